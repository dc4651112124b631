#pragma once

#include <QObject>

#include <memory>

namespace quenvar::sample {
class Frmx10;
}
class ControllerWatch;

class ProgramFlowTest : public QObject {
    Q_OBJECT
public:
    struct Fixture;
    ProgramFlowTest();
    ~ProgramFlowTest() override;

private slots:
    void init();
    void cleanup();

    void freshPortWindowSelectsFirstPort();
    void okOpensFirstPortAtOnce();
    void okOpensChosenPortThenShowsController();
    void okWithoutSelectionAsksForPort();
    void failingOpenKeepsPortWindow();
    void cancelAndReopenStartAtFirstPort();
    void okAgainReopensOnSameControl();
    void closingOnlyWindowEndsProgram_data();
    void closingOnlyWindowEndsProgram();
    void unitCommandsSendWhatWasTyped_data();
    void unitCommandsSendWhatWasTyped();
    void onSwitchesModuleOn();
    void houseCommandsSendOneFunction_data();
    void houseCommandsSendOneFunction();
    void dimAndBrightPassFivePerStep_data();
    void dimAndBrightPassFivePerStep();
    void sliderRewritesPercentageLabel_data();
    void sliderRewritesPercentageLabel();
    void sliderKeysMoveLabel();
    void emptyUnitEndsHandlerWithRuntimeError_data();
    void emptyUnitEndsHandlerWithRuntimeError();
    void commandsBeforeOpenMeetPortCheck();
    void exitClosesPortThenUnloads();
    void closeBoxUnloadsWithoutClosingPort();
    void exitWithPortWindowOpenKeepsRunning();
    void hiddenWindowDoesNotOutliveLastOnScreen();
    void failedOpenThenCancelEndsProgram();

private:
    // Points port `port` at the simulator.
    void usePort(int port);
    bool portOpen() const;
    // Starts the program, chooses `port` (pointed at the simulator) and presses "OK"; the
    // controller window on screen with the port open, or nullptr.
    quenvar::sample::Frmx10* openControllerOnPort(int port);

    std::unique_ptr<Fixture> fixture_;
    std::unique_ptr<ControllerWatch> watch_;
};
