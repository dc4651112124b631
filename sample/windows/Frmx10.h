#pragma once
// The controller window ("X10 Controller"): house and unit boxes, six command buttons, the dim
// slider with its percentage label, and the control quenvar1 that does the checking and the
// sending. The window checks nothing itself: every button hands the boxes' texts (and the dim
// percentage) to the control, late bound by member id.

#include <memory>
#include <string>

#include "platform/automation/Dispatch.h"
#include "sample/windows/FormWindow.h"

namespace quenvar::sample::windows {

class ControlSite;
class SampleApp;

class Frmx10 : public FormWindow {
public:
    // Loads the window (hidden) and creates its control by ProgID; raises
    // automation::RuntimeError when the control cannot be created.
    explicit Frmx10(SampleApp& forms);
    ~Frmx10() override;

    // The control instance; it lives exactly as long as the window.
    ControlSite& quenvar1() { return *quenvar1_; }

protected:
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void addControls();
    bool onCommand(int id, int notification);
    void onUnitCommand(automation::MemberId command);
    void onHouseCommand(automation::MemberId command);
    void onDimCommand(automation::MemberId command);
    void onSliderMoved();
    void onExit();

    SampleApp& forms_;
    FormFont font_{12};
    FormFont smallFont_{9.75};
    std::unique_ptr<ControlSite> quenvar1_;
    int sliderValue_ = 0;
};

}  // namespace quenvar::sample::windows
