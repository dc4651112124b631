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

static std::size_t lampIndex(char house, int unit)
{
    const int upper = std::toupper(static_cast<unsigned char>(house));
    if (upper < 'A' || upper > 'P')
        throw std::out_of_range(std::string("x10sim: house code must be A to P, not '") + house + "'");
    if (unit < 1 || unit > 16)
        throw std::out_of_range("x10sim: unit code must be 1 to 16, not " + std::to_string(unit));
    return std::size_t(upper - 'A') * 16 + std::size_t(unit - 1);
}

HouseWindow::HouseWindow(Simulator& simulator, const QString& linkPath, QWidget* parent)
    : QMainWindow(parent)
    , m_simulator(simulator)
    , m_ui(std::make_unique<Ui::HouseWindow>())
{
    m_ui->setupUi(this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("deviceStatus"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(m_status, 1);
    buildLampGrid();

    for (char house = 'A'; house <= 'P'; ++house)
        for (int unit = 1; unit <= 16; ++unit)
            lamp(house, unit)->setState(simulator.module(house, unit));
    const auto& frames = simulator.frames();
    const std::size_t firstShown = frames.size() > std::size_t(kShownFrames) ? frames.size() - kShownFrames : 0;
    for (std::size_t i = firstShown; i < frames.size(); ++i)
        appendFrame(frames[i]);
    showDevice(simulator.devicePath(), linkPath);

    connect(&simulator, &Simulator::moduleChanged, this, &HouseWindow::showChange);
    connect(&simulator, &Simulator::frameSent, this, &HouseWindow::appendFrame);
    connect(&simulator, &Simulator::lineLost, this, &HouseWindow::showLineLost);
}

HouseWindow::~HouseWindow() = default;

void HouseWindow::buildLampGrid()
{
    QGridLayout* grid = m_ui->lampGrid;
    for (int unit = 1; unit <= 16; ++unit) {
        auto* header = new QLabel(QString::number(unit), m_ui->houseGroup);
        header->setAlignment(Qt::AlignCenter);
        grid->addWidget(header, 0, unit);
    }
    for (char house = 'A'; house <= 'P'; ++house) {
        const int row = house - 'A' + 1;
        auto* header = new QLabel(QString(QChar::fromLatin1(house)), m_ui->houseGroup);
        header->setAlignment(Qt::AlignCenter);
        header->setMinimumWidth(16);
        grid->addWidget(header, row, 0);
        for (int unit = 1; unit <= 16; ++unit) {
            auto* view = new LampView(house, unit, m_ui->houseGroup);
            m_lamps[lampIndex(house, unit)] = view;
            grid->addWidget(view, row, unit);
            connect(view, &LampView::clicked, this, [this, house, unit] { flipWallSwitch(house, unit); });
        }
    }
}

ModuleState HouseWindow::lampState(char house, int unit) const
{
    return m_lamps[lampIndex(house, unit)]->state();
}

LampView* HouseWindow::lamp(char house, int unit) const
{
    return m_lamps[lampIndex(house, unit)];
}

QStringList HouseWindow::shownFrames() const
{
    QStringList texts;
    for (int row = 0; row < m_ui->frameList->count(); ++row)
        texts << m_ui->frameList->item(row)->text();
    return texts;
}

QString HouseWindow::statusText() const
{
    return m_status->text();
}

void HouseWindow::showDevice(const QString& devicePath, const QString& linkPath)
{
    if (devicePath.isEmpty()) {
        m_status->setText(tr("No device open: the simulator has not started."));
        return;
    }
    if (linkPath.isEmpty())
        m_status->setText(tr("Device %1 — set QUENVAR_COMM1=%1").arg(devicePath));
    else
        m_status->setText(tr("Device %1, linked at %2 — set QUENVAR_COMM1=%2").arg(devicePath, linkPath));
}

void HouseWindow::showChange(const ModuleChange& change)
{
    lamp(change.house, change.unit)->setState(change.after);
}

void HouseWindow::appendFrame(const Frame& frame)
{
    QListWidget* list = m_ui->frameList;
    // Follow new frames only while the person is looking at the newest; someone scrolled up to
    // read stays where they are.
    const QScrollBar* scroll = list->verticalScrollBar();
    const bool followNewest = scroll->value() == scroll->maximum();
    while (list->count() >= kShownFrames)
        delete list->takeItem(0);
    list->addItem(QString::fromStdString(frame.text()));
    if (followNewest)
        list->scrollToBottom();
}

void HouseWindow::flipWallSwitch(char house, int unit)
{
    const FunctionCode function = m_simulator.module(house, unit).on ? FunctionCode::Off : FunctionCode::On;
    m_simulator.sendFromOtherTransmitter({Frame::forAddress(house, unit), Frame::forFunction(house, function)});
}

void HouseWindow::showLineLost(const QString& reason)
{
    m_status->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    m_status->setText(reason);
}

}  // namespace x10sim
