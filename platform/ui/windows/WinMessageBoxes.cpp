#include "platform/ui/windows/WinMessageBoxes.h"

#include <string>

namespace quenvar::ui {

namespace {

std::wstring fromSystemCodePage(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

}  // namespace

void WinMessageBoxes::showMessage(const std::string& prompt, const std::string& title) {
    // Without a window of the host's, the one the user is working in owns the box, as with the
    // language runtime's own message boxes.
    const HWND owner = IsWindow(owner_) ? owner_ : GetActiveWindow();
    const UINT modality = owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL;
    MessageBoxW(owner, fromSystemCodePage(prompt).c_str(), fromSystemCodePage(title).c_str(), MB_OK | modality);
}

}  // namespace quenvar::ui
