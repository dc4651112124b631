#pragma once
// Waits that keep Qt's event loop running, so that notifiers and timers of the code under test
// fire while the test waits.

#include <chrono>
#include <functional>

namespace quenvar::testing {

// Processes Qt events until condition() holds or the timeout passes; returns condition().
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Processes Qt events for the whole period (a measuring window, not a wait for something).
void processEventsFor(std::chrono::milliseconds period);

// CPU time the whole process used while the event loop ran for a while, against the wall time:
// a loop that should sleep but spins shows as a share near one core.
struct CpuShare {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double percent() const { return wallSeconds > 0 ? 100.0 * cpuSeconds / wallSeconds : 0; }
};
CpuShare cpuShareWhileEventsRun(std::chrono::milliseconds period);

}  // namespace quenvar::testing
