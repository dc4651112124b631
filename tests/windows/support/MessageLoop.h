#pragma once
// Waits on the calling thread that keep its message loop running, as a host's thread does, so
// that whatever arrives through windows (serial notifications, boxes) is delivered meanwhile.

#include <windows.h>

#include <chrono>

namespace quenvar::testing {

// Dispatches every message already queued, without waiting.
inline void dispatchQueuedMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Runs the message loop until `done()` holds or the time is up; sleeps while nothing arrives
// (checking `done` at least every 20 ms for conditions that no message announces).
template <typename Condition>
bool runMessagesUntil(Condition done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
    for (;;) {
        dispatchQueuedMessages();
        if (done()) return true;
        if (GetTickCount64() >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// The message loop for a while: for checks that nothing (more) happens.
inline void runMessagesFor(std::chrono::milliseconds period) {
    runMessagesUntil([] { return false; }, period);
}

// CPU time of the whole process (every thread), in seconds.
inline double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& time) {
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}

}  // namespace quenvar::testing
