#pragma once
// The port selection window ("Communitcation Port"): the user picks one of four serial ports
// and "OK" opens it on the controller window's control, then brings up the controller window.

#include <cstdint>

#include "sample/windows/FormWindow.h"

namespace quenvar::sample::windows {

class SampleApp;

class Frmcom : public FormWindow {
public:
    // Loads the window (hidden) with "CommPort 1" selected.
    explicit Frmcom(SampleApp& forms);

    // The number of the selected port (1 to 4), 0 when none is selected.
    std::int16_t selectedPort() const;

protected:
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void onOk();

    SampleApp& forms_;
    FormFont windowFont_{8};
    FormFont optionFont_{12};
};

}  // namespace quenvar::sample::windows
