#pragma once
// The edge of every handler of the program's windows, and the program's modal boxes.
//
// No handler traps errors on its own: a run-time error ends the handler at the failing step,
// and whatever the handler did before that stays done. The error then reaches the user here,
// in a modal box titled with the program's name ("quenvarsample") that reads "Run-time error
// 'N':", an empty line and the error's description; the program goes on with its windows as
// they are.

#include <windows.h>

#include <exception>
#include <string_view>
#include <utility>

#include "platform/automation/RuntimeError.h"

namespace quenvar::sample::windows {

// A modal box with an OK button only: owned by `owner` when that window is on screen, and
// while it is open none of the program's windows takes input. `icon` is an MB_ICON... flag or 0.
void showModalBox(HWND owner, std::wstring_view text, std::wstring_view title, UINT icon);

// A text of the single-byte code page, as the control and the runtime errors carry them.
std::wstring fromCodePage(std::string_view text);

void showRuntimeError(HWND window, const automation::RuntimeError& error);

// Runs one handler's body; a run-time error that ends it is shown to the user. An exception
// that is not a run-time error (a failure of the C++ library, for instance) is shown as the
// automation layer's unexpected failure with its text, so it too reaches the user instead of
// ending the program.
template <class Body>
void runHandler(HWND window, Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (const automation::RuntimeError& error) {
        showRuntimeError(window, error);
    } catch (const std::exception& error) {
        showRuntimeError(window, automation::RuntimeError(static_cast<std::int32_t>(0x80004005u), error.what()));
    }
}

}  // namespace quenvar::sample::windows
