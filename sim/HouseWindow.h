#pragma once
// x10sim's window: the virtual house as a grid of lamps (house codes A..P in rows, unit codes
// 1..16 in columns), the last frames that went out on the power line, and a status line with
// the device to open (what to set QUENVAR_COMM1 to).
//
// What a caller may rely on:
// - The window follows the simulator through its signals only (moduleChanged, frameSent,
//   lineLost); it reads the simulator's records once, when it is built, so a window opened late
//   still shows what already happened. It never polls.
// - The frame list holds at most maxShownFrames entries, oldest first, each as Frame::text().
// - A click on a lamp works as a wall switch beside the module: it sends the lamp's address and
//   Off when the lamp is on, On when it is off, as another transmitter on the power line.
// - The simulator must outlive the window.

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

#include "sim/Frame.h"
#include "sim/HouseModel.h"

class QLabel;

namespace Ui {
class HouseWindow;
}

namespace x10sim {

class LampView;
class Simulator;

class HouseWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int maxShownFrames = 50;

    // linkPath: the symbolic link the simulator placed, if any; people are told to use it
    // rather than the device itself, whose name changes from run to run.
    explicit HouseWindow(Simulator& simulator, const QString& linkPath = {}, QWidget* parent = nullptr);
    ~HouseWindow() override;

    // What the lamp of house 'A'..'P' (either case), unit 1..16 shows; throws std::out_of_range otherwise.
    ModuleState lampState(char house, int unit) const;
    LampView* lamp(char house, int unit) const;
    // The frames as listed, oldest first.
    QStringList shownFrames() const;
    QString statusText() const;

private:
    void buildLampGrid();
    void showDevice(const QString& devicePath, const QString& linkPath);
    void showChange(const ModuleChange& change);
    void appendFrame(const Frame& frame);
    void showLineLost(const QString& reason);

    void flipWallSwitch(char house, int unit);

    Simulator& simulator_;
    std::unique_ptr<Ui::HouseWindow> ui_;
    QLabel* status_ = nullptr;
    std::array<LampView*, 16 * 16> lamps_{};
};

}  // namespace x10sim
