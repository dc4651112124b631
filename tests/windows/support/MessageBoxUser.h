#pragma once
// The user in front of the screen, for Windows tests: a thread that waits for the next message
// box of this process (a dialog of class #32770), reads what it shows and presses OK once the
// test lets it (or after ten seconds, so that no test hangs on a box). The box's own message
// loop keeps running on the thread that shows it.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quenvar::testing {

class MessageBoxUser {
public:
    struct Box {
        bool found = false;
        std::wstring caption;
        std::vector<std::wstring> texts;  // the static texts with something in them
        std::vector<int> buttons;         // control ids (IDOK, IDCANCEL, ...)
        bool iconShown = false;
        HWND owner = nullptr;
        bool ownerEnabled = true;      // while the box was open
        bool closedByTheTest = false;  // false: `mayClose` never held
    };

    explicit MessageBoxUser(std::function<bool()> mayClose = [] { return true; })
        : mayClose_(std::move(mayClose)), thread_([this] { run(); }) {}
    ~MessageBoxUser() { box(); }
    MessageBoxUser(const MessageBoxUser&) = delete;
    MessageBoxUser& operator=(const MessageBoxUser&) = delete;

    // What the box showed, once it has been closed (or none came in ten seconds).
    const Box& box() {
        if (thread_.joinable())
            thread_.join();
        return box_;
    }

private:
    static std::wstring text(HWND window, bool ofClass = false) {
        wchar_t text[1024] = {};
        ofClass ? GetClassNameW(window, text, 1024) : GetWindowTextW(window, text, 1024);
        return text;
    }

    static BOOL CALLBACK findBox(HWND window, LPARAM found) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() || text(window, true) != L"#32770")
            return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }

    static BOOL CALLBACK readControl(HWND control, LPARAM into) {
        Box& box = *reinterpret_cast<Box*>(into);
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        if (text(control, true) == L"Button")
            box.buttons.push_back(GetDlgCtrlID(control));
        else if ((style & SS_TYPEMASK) == SS_ICON)
            box.iconShown |= (style & WS_VISIBLE) != 0 && SendMessageW(control, STM_GETICON, 0, 0) != 0;
        else if (!text(control).empty())
            box.texts.push_back(text(control));
        return TRUE;
    }

    template <typename Condition>
    static bool waitFor(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            Sleep(5);
        }
        return true;
    }

    void run() {
        HWND window = nullptr;
        box_.found = waitFor([&] { return !EnumWindows(&findBox, reinterpret_cast<LPARAM>(&window)); });
        if (!box_.found)
            return;
        box_.caption = text(window);
        EnumChildWindows(window, &readControl, reinterpret_cast<LPARAM>(&box_));
        box_.owner = GetWindow(window, GW_OWNER);
        box_.ownerEnabled = box_.owner != nullptr && IsWindowEnabled(box_.owner);
        box_.closedByTheTest = waitFor(mayClose_);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    }

    std::function<bool()> mayClose_;
    Box box_;
    std::thread thread_;
};

}  // namespace quenvar::testing
