#include "tests/support/EventLoopWaits.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <ctime>

namespace quenvar::testing {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    // The far end of a pty raises no Qt event; a short ticker wakes the loop to look again.
    QTimer ticker;
    ticker.start(5);
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void processEventsFor(std::chrono::milliseconds period) {
    QEventLoop loop;
    QTimer::singleShot(period, &loop, &QEventLoop::quit);
    loop.exec();
}

namespace {

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

CpuShare cpuShareWhileEventsRun(std::chrono::milliseconds period) {
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    processEventsFor(period);
    return {processCpuSeconds() - cpuBefore, static_cast<double>(wall.nsecsElapsed()) / 1e9};
}

}  // namespace quenvar::testing
