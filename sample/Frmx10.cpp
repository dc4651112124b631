#include "sample/Frmx10.h"

#include <QCloseEvent>
#include <QMenuBar>

#include "platform/automation/Variant.h"
#include "sample/DimPercentage.h"
#include "sample/HandlerEdge.h"
#include "sample/MemberIds.h"
#include "sample/ProgramTexts.h"
#include "sample/SampleApp.h"
#include "sample/WindowFonts.h"
#include "ui_Frmx10.h"

namespace quenvar::sample {

using automation::Variant;

namespace {
constexpr qreal smallLabelPointSize = 9.75;

Variant textArgument(const std::string& text) { return Variant::fromText(text); }
}  // namespace

Frmx10::Frmx10(SampleApp& forms) : ui_(std::make_unique<Ui::Frmx10>()), forms_(forms) {
    ui_->setupUi(this);
    // Designer files keep whole points only.
    for (QLabel* label : {ui_->Label4, ui_->Label5}) {
        QFont font = label->font();
        font.setPointSizeF(smallLabelPointSize);
        label->setFont(font);
    }
    preferSansSerifFallback(this);
    // Both boxes start empty: nothing is preselected.
    ui_->cbhouse->setCurrentIndex(-1);
    ui_->CBunit->setCurrentIndex(-1);
    // What the user typed goes to the control unchanged. An editable box's own completer would
    // complete "1" to the stored "10" and, as the box loses the focus, take a typed "c" for the
    // stored "C"; the stored items stay in the drop-down list.
    ui_->cbhouse->setCompleter(nullptr);
    ui_->CBunit->setCompleter(nullptr);
    resize(clientSize().width(), clientSize().height() + menuBar()->sizeHint().height());
    connectHandlers();
    ui_->quenvar1->setControl(QString::fromLatin1(controlProgId));
}

Frmx10::~Frmx10() = default;

ui::ControlSite& Frmx10::quenvar1() { return *ui_->quenvar1; }

void Frmx10::connectHandlers() {
    connect(ui_->Command1, &QPushButton::clicked, this, [this] { onUnitCommand(member::x10on); });
    connect(ui_->Command2, &QPushButton::clicked, this, [this] { onUnitCommand(member::x10off); });
    connect(ui_->Command3, &QPushButton::clicked, this, [this] { onHouseCommand(member::lightson); });
    connect(ui_->Command4, &QPushButton::clicked, this, [this] { onHouseCommand(member::alloff); });
    connect(ui_->Command5, &QPushButton::clicked, this, [this] { onDimCommand(member::x10dim); });
    connect(ui_->Command6, &QPushButton::clicked, this, [this] { onDimCommand(member::x10brighten); });
    connect(ui_->Slider1, &QSlider::valueChanged, this, &Frmx10::onSliderChanged);
    connect(ui_->mnucomport, &QAction::triggered, this, &Frmx10::onComport);
    connect(ui_->mnuexit, &QAction::triggered, this, &Frmx10::onExit);
}

std::string Frmx10::houseText() const { return ui_->cbhouse->currentText().toLatin1().toStdString(); }

std::string Frmx10::unitText() const { return ui_->CBunit->currentText().toLatin1().toStdString(); }

void Frmx10::onUnitCommand(automation::MemberId command) {
    runHandler(this, [&] {
        const std::string house = houseText();
        const std::string unit = unitText();
        ui_->quenvar1->dynamicCall(command, {textArgument(house), textArgument(unit)});
    });
}

void Frmx10::onHouseCommand(automation::MemberId command) {
    runHandler(this, [&] { ui_->quenvar1->dynamicCall(command, {textArgument(houseText())}); });
}

void Frmx10::onDimCommand(automation::MemberId command) {
    runHandler(this, [&] {
        const std::int16_t dimvalue = dimValueArgument(ui_->Slider1->value());
        const std::string house = houseText();
        const std::string unit = unitText();
        ui_->quenvar1->dynamicCall(command, {textArgument(house), textArgument(unit), Variant::fromInt16(dimvalue)});
    });
}

void Frmx10::onSliderChanged(int value) {
    runHandler(this, [&] { ui_->Label5->setText(QString::fromStdString(dimPercentageCaption(value))); });
}

void Frmx10::onComport() { forms_.showFrmcom(); }

void Frmx10::onExit() {
    runHandler(this, [this] {
        ui_->quenvar1->dynamicCall(member::closex10);
        forms_.unloadFrmx10();
    });
}

void Frmx10::closeEvent(QCloseEvent* event) {
    event->accept();
    forms_.unloadFrmx10();
}

}  // namespace quenvar::sample
