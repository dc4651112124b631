#include "sim/HouseWindow.h"

#include "sim/LampView.h"
#include "sim/Simulator.h"
#include "ui_HouseWindow.h"

#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QStatusBar>

#include <cctype>
#include <stdexcept>
#include <string>

namespace x10sim {

static std::size_t lampIndex(char house, int unit) {
    const int upper = std::toupper(static_cast<unsigned char>(house));
    if (upper < 'A' || upper > 'P')
        throw std::out_of_range(std::string("x10sim: house code must be A to P, not '") + house + "'");
    if (unit < 1 || unit > 16)
        throw std::out_of_range("x10sim: unit code must be 1 to 16, not " + std::to_string(unit));
    return std::size_t(upper - 'A') * 16 + std::size_t(unit - 1);
}

HouseWindow::HouseWindow(Simulator& simulator, const QString& linkPath, QWidget* parent)
    : QMainWindow(parent), simulator_(simulator), ui_(std::make_unique<Ui::HouseWindow>()) {
    ui_->setupUi(this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("deviceStatus"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(status_, 1);
    buildLampGrid();

    for (char house = 'A'; house <= 'P'; ++house)
        for (int unit = 1; unit <= 16; ++unit) lamp(house, unit)->setState(simulator.module(house, unit));
    const auto& frames = simulator.frames();
    const std::size_t firstShown = frames.size() > std::size_t(maxShownFrames) ? frames.size() - maxShownFrames : 0;
    for (std::size_t i = firstShown; i < frames.size(); ++i) appendFrame(frames[i]);
    showDevice(simulator.devicePath(), linkPath);

    connect(&simulator, &Simulator::moduleChanged, this, &HouseWindow::showChange);
    connect(&simulator, &Simulator::frameSent, this, &HouseWindow::appendFrame);
    connect(&simulator, &Simulator::lineLost, this, &HouseWindow::showLineLost);
}

HouseWindow::~HouseWindow() = default;

void HouseWindow::buildLampGrid() {
    QGridLayout* grid = ui_->lampGrid;
    for (int unit = 1; unit <= 16; ++unit) {
        auto* header = new QLabel(QString::number(unit), ui_->houseGroup);
        header->setAlignment(Qt::AlignCenter);
        grid->addWidget(header, 0, unit);
    }
    for (char house = 'A'; house <= 'P'; ++house) {
        const int row = house - 'A' + 1;
        auto* header = new QLabel(QString(QChar::fromLatin1(house)), ui_->houseGroup);
        header->setAlignment(Qt::AlignCenter);
        header->setMinimumWidth(16);
        grid->addWidget(header, row, 0);
        for (int unit = 1; unit <= 16; ++unit) {
            auto* view = new LampView(house, unit, ui_->houseGroup);
            lamps_[lampIndex(house, unit)] = view;
            grid->addWidget(view, row, unit);
            connect(view, &LampView::clicked, this, [this, house, unit] { flipWallSwitch(house, unit); });
        }
    }
}

ModuleState HouseWindow::lampState(char house, int unit) const { return lamps_[lampIndex(house, unit)]->state(); }

LampView* HouseWindow::lamp(char house, int unit) const { return lamps_[lampIndex(house, unit)]; }

QStringList HouseWindow::shownFrames() const {
    QStringList texts;
    for (int row = 0; row < ui_->frameList->count(); ++row) texts << ui_->frameList->item(row)->text();
    return texts;
}

QString HouseWindow::statusText() const { return status_->text(); }

void HouseWindow::showDevice(const QString& devicePath, const QString& linkPath) {
    if (devicePath.isEmpty()) {
        status_->setText(tr("No device open: the simulator has not started."));
        return;
    }
    if (linkPath.isEmpty())
        status_->setText(tr("Device %1 — set QUENVAR_COMM1=%1").arg(devicePath));
    else
        status_->setText(tr("Device %1, linked at %2 — set QUENVAR_COMM1=%2").arg(devicePath, linkPath));
}

void HouseWindow::showChange(const ModuleChange& change) { lamp(change.house, change.unit)->setState(change.after); }

void HouseWindow::appendFrame(const Frame& frame) {
    QListWidget* list = ui_->frameList;
    // Follow new frames only while the person is looking at the newest; someone scrolled up to
    // read stays where they are.
    const QScrollBar* scroll = list->verticalScrollBar();
    const bool followNewest = scroll->value() == scroll->maximum();
    while (list->count() >= maxShownFrames) delete list->takeItem(0);
    list->addItem(QString::fromStdString(frame.text()));
    if (followNewest) list->scrollToBottom();
}

void HouseWindow::flipWallSwitch(char house, int unit) {
    const FunctionCode function = simulator_.module(house, unit).on ? FunctionCode::Off : FunctionCode::On;
    simulator_.sendFromOtherTransmitter({Frame::forAddress(house, unit), Frame::forFunction(house, function)});
}

void HouseWindow::showLineLost(const QString& reason) {
    status_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    status_->setText(reason);
}

}  // namespace x10sim
