#pragma once
// Message boxes on Windows: MessageBoxW with the prompt and the title, an OK button only and no
// icon, modal to the host's window that owns it. The texts are in the system's single-byte code
// page (the runtime's texts) and are shown as the characters that page gives them.
// The box runs its own message loop, so serial notifications keep arriving while it is open.

#include <windows.h>

#include "platform/ui/MessageBoxes.h"

namespace quenvar::ui {

class WinMessageBoxes : public MessageBoxes {
public:
    WinMessageBoxes() = default;

    // The host's window that owns the boxes and is disabled while one is open. Without one (or
    // once it is gone) the thread's active window owns the box; without that either, the box
    // is modal to every window of the calling thread.
    void setOwner(HWND owner) { owner_ = owner; }
    HWND owner() const { return owner_; }

    void showMessage(const std::string& prompt, const std::string& title) override;

private:
    HWND owner_ = nullptr;
};

}  // namespace quenvar::ui
