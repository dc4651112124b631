#pragma once

#include <QObject>

#include <memory>

namespace quenvar::sample {
class Frmx10;
}

// The program's windows on a simulated interface that fails under them: the user hears of each
// fault exactly as they must (or not at all), nothing spins, and the program goes on working.
class LineFaultsTest : public QObject {
    Q_OBJECT
public:
    struct Fixture;
    LineFaultsTest();
    ~LineFaultsTest() override;

private slots:
    void init();
    void cleanup();

    void programStaysUsable_data();
    void programStaysUsable();
    void exitAfterDeviceLostEndsProgram();

private:
    // Starts the program and presses "OK" on "CommPort 1"; the controller window on screen, or
    // nullptr.
    quenvar::sample::Frmx10* openController();
    // File > Comport, then "OK" on "CommPort 1" in the port selection window that comes up.
    bool openPortAgain(quenvar::sample::Frmx10* frmx10);

    std::unique_ptr<Fixture> fixture_;
};
