#pragma once
// Modal message boxes a control shows: a prompt, a title and an OK button only, no icon.
// Texts are in the single-byte code page, like every text of the runtime.
// The call returns when the user has closed the box; events (such as serial notifications)
// go on being delivered while it is open.

#include <string>

namespace quenvar::ui {

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void showMessage(const std::string& prompt, const std::string& title) = 0;
};

}  // namespace quenvar::ui
