#pragma once
// Drives the Windows quenvarsample from another process, as a person at the keyboard would:
// finds its windows by caption and their controls by id, types into the boxes key by key,
// presses buttons, moves the slider with the arrow keys, reaches the menu with the keyboard,
// and reads and closes the message boxes. Waits are on conditions (a window appears, a box
// opens, the process ends), each bounded so that a fault fails a test instead of hanging it.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace sample_driver {

inline constexpr DWORD waitLimitMs = 10000;

// Polls `condition` until it holds or `limitMs` have passed; returns whether it held.
template <class Condition>
bool waitFor(Condition condition, DWORD limitMs = waitLimitMs) {
    const ULONGLONG end = GetTickCount64() + limitMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(10);
    }
}

struct MessageBoxSeen {
    std::wstring title;
    std::wstring text;
    int buttons = 0;  // how many buttons the box has
};

class ProgramDriver {
public:
    // Starts the program (beside this test program) and waits for its first window.
    ProgramDriver();
    // Ends the program if it is still running.
    ~ProgramDriver();
    ProgramDriver(const ProgramDriver&) = delete;
    ProgramDriver& operator=(const ProgramDriver&) = delete;

    // The program's visible top-level window with `caption`, waiting for it; nullptr if none came.
    HWND waitForWindow(const wchar_t* caption) const;
    // The program's visible top-level window with `caption` now, or nullptr.
    HWND findWindow(const wchar_t* caption) const;
    HWND control(HWND window, int id) const;

    // Focuses the combo box's edit field, clears it and types `text` one character at a time.
    void typeInto(HWND comboBox, const std::wstring& text) const;
    // Presses the button without waiting for what it does (a handler may open a modal box).
    void press(HWND button) const;
    // Focuses the slider and moves it to `value` with Home and Right arrow keys.
    void moveSlider(HWND slider, int value) const;
    // Opens `window`'s first menu with the keyboard and chooses its entry `entry` (0-based):
    // Alt, Down to open it, Down to each further entry, Enter.
    void chooseMenuEntry(HWND window, int entry) const;

    // The program's open message box, waiting for one; nullopt if none came.
    std::optional<MessageBoxSeen> waitForBox() const;
    // Presses the open box's OK button and waits until the box is gone.
    bool closeBox() const;
    // The message boxes a handler shows one after another, each closed after reading, until the
    // handler is over (no box open and the program idle).
    std::vector<MessageBoxSeen> closeBoxesUntilIdle() const;
    // True when the program's thread has handled everything sent to it and shows no box.
    bool idleWithoutBox() const;

    // Waits for the program to end; returns its exit code, or nullopt if it did not end.
    std::optional<DWORD> waitForExit() const;

private:
    HWND openBox() const;
    void focus(HWND window, HWND control) const;
    void sendKey(WORD key, bool up) const;

    PROCESS_INFORMATION process_{};
};

std::wstring textOf(HWND window);

}  // namespace sample_driver
