#include "sample/Frmcom.h"

#include <QCloseEvent>

#include "platform/automation/Variant.h"
#include "platform/ui/QtMessageBoxes.h"
#include "sample/Frmx10.h"
#include "sample/HandlerEdge.h"
#include "sample/MemberIds.h"
#include "sample/ProgramTexts.h"
#include "sample/SampleApp.h"
#include "sample/WindowFonts.h"
#include "ui_Frmcom.h"

namespace quenvar::sample {

Frmcom::Frmcom(SampleApp& forms) : ui_(std::make_unique<Ui::Frmcom>()), forms_(forms) {
    ui_->setupUi(this);
    preferSansSerifFallback(this);
    // The group's ids are the option buttons' indexes, 0 to 3.
    QRadioButton* const ports[] = {ui_->Optcom1_0, ui_->Optcom1_1, ui_->Optcom1_2, ui_->Optcom1_3};
    for (int index = 0; index < 4; ++index) ui_->Optcom1->setId(ports[index], index);
    connectHandlers();
    // Load: every fresh window starts at the first port, whatever was chosen before.
    ui_->Optcom1_0->setChecked(true);
}

Frmcom::~Frmcom() = default;

void Frmcom::connectHandlers() {
    connect(ui_->Command1, &QPushButton::clicked, this, &Frmcom::onOk);
    connect(ui_->Command2, &QPushButton::clicked, this, &Frmcom::onCancel);
}

std::int16_t Frmcom::selectedPort() const {
    std::int16_t port = 0;
    for (int index = 0; index < 4; ++index) {
        if (ui_->Optcom1->button(index)->isChecked()) port = static_cast<std::int16_t>(index + 1);
    }
    return port;
}

void Frmcom::onOk() {
    runHandler(this, [this] {
        const std::int16_t port = selectedPort();
        if (port == 0) {
            ui::QtMessageBoxes(this).showMessage(noPortPrompt, noPortTitle);
            return;
        }
        // The port opens before this window goes and before the controller window shows; a
        // failure here leaves both windows as they were.
        forms_.frmx10().quenvar1().dynamicCall(member::openx10, {automation::Variant::fromInt16(port)});
        forms_.unloadFrmcom();
        forms_.showFrmx10();
    });
}

void Frmcom::onCancel() { forms_.unloadFrmcom(); }

void Frmcom::closeEvent(QCloseEvent* event) {
    event->accept();
    forms_.unloadFrmcom();
}

}  // namespace quenvar::sample
