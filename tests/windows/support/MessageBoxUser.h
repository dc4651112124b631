#pragma once
// The user in front of the screen, for Windows tests: a thread that watches for message boxes
// of this process (dialogs of class #32770) while the test runs the calls that show them, reads
// what each shows and presses OK once the test lets it (or after ten seconds, so that no test
// hangs on a box). A box's own message loop keeps running on the thread that shows it, and
// holds that thread's call until the box is closed.

#include <windows.h>

#include <atomic>
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
    ~MessageBoxUser() { boxes(); }
    MessageBoxUser(const MessageBoxUser&) = delete;
    MessageBoxUser& operator=(const MessageBoxUser&) = delete;

    // Every box shown since the user started watching, in order. Ends the watching: ask once
    // the calls that show boxes have returned (each returns only after its box was closed).
    const std::vector<Box>& boxes() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        return boxes_;
    }
    // The first of them; `found` is false when none was shown.
    const Box& box() {
        static const Box none;
        return boxes().empty() ? none : boxes().front();
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
        if (process != GetCurrentProcessId() || text(window, true) != L"#32770") return TRUE;
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
            if (std::chrono::steady_clock::now() >= deadline) return false;
            Sleep(5);
        }
        return true;
    }

    void run() {
        for (;;) {
            HWND window = nullptr;
            while (EnumWindows(&findBox, reinterpret_cast<LPARAM>(&window))) {
                if (done_) return;
                Sleep(5);
            }
            Box box;
            box.found = true;
            box.caption = text(window);
            EnumChildWindows(window, &readControl, reinterpret_cast<LPARAM>(&box));
            box.owner = GetWindow(window, GW_OWNER);
            box.ownerEnabled = box.owner != nullptr && IsWindowEnabled(box.owner);
            box.closedByTheTest = waitFor(mayClose_);
            boxes_.push_back(std::move(box));
            PostMessageW(window, WM_COMMAND, IDOK, 0);
            // Gone before looking again, so that each box is read once.
            waitFor([&] { return !IsWindow(window); });
        }
    }

    std::function<bool()> mayClose_;
    std::atomic<bool> done_{false};
    std::vector<Box> boxes_;
    std::thread thread_;
};

}  // namespace quenvar::testing
