#include "sample/windows/HandlerEdge.h"

#include <string>
#include <vector>

#include "sample/ProgramTexts.h"

namespace quenvar::sample::windows {

namespace {

BOOL CALLBACK collectEnabledWindow(HWND window, LPARAM windows) {
    if (IsWindowVisible(window) && IsWindowEnabled(window))
        reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

}  // namespace

std::wstring fromCodePage(std::string_view text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

void showModalBox(HWND owner, std::wstring_view text, std::wstring_view title, UINT icon) {
    if (owner && !IsWindowVisible(owner)) owner = nullptr;
    // The box disables its owner; the program's other windows are disabled here, so that the
    // box holds the whole program as the handler that shows it does.
    std::vector<HWND> disabled;
    EnumThreadWindows(GetCurrentThreadId(), collectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
    std::erase(disabled, owner);
    for (HWND window : disabled) EnableWindow(window, FALSE);
    const std::wstring textCopy(text);
    const std::wstring titleCopy(title);
    MessageBoxW(owner, textCopy.c_str(), titleCopy.c_str(), MB_OK | icon | MB_SETFOREGROUND);
    for (HWND window : disabled) {
        if (IsWindow(window)) EnableWindow(window, TRUE);
    }
}

void showRuntimeError(HWND window, const automation::RuntimeError& error) {
    const std::wstring text =
        fromCodePage(runtimeErrorHeading(error.number())) + L"\n\n" + fromCodePage(error.description());
    showModalBox(window, text, fromCodePage(programTitle), MB_ICONERROR);
}

}  // namespace quenvar::sample::windows
