// Prints how fast the control works through commands: once with a scripted serial component
// (the protocol logic alone), once over a real pseudo-terminal with the virtual interface
// answering (the whole path a command takes). Figures only; nothing here passes or fails.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <sys/resource.h>

#include "control/Quenvar.h"
#include "platform/serial/QtSerialComponent.h"
#include "sim/Simulator.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/ScriptedSerialComponent.h"

namespace {

using quenvar::testing::bytes;

long maxResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The protocol logic alone: On A1 with the interface's four answers, many times.
void benchmarkProtocolLogic() {
    quenvar::testing::RecordingMessageBoxes boxes;
    auto component = std::make_unique<quenvar::testing::ScriptedSerialComponent>();
    auto* port = component.get();
    quenvar::control::Quenvar control(std::move(component), boxes);
    int ready = 0;
    control.setX10readyHandler([&] { ++ready; });
    control.openx10(1);

    constexpr int rounds = 200000;
    const std::string answers = bytes({0x6A, 0x55, 0x68, 0x55});
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i) {
        control.x10on("A", "01");
        port->receive(answers);
        port->writes.clear();
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    std::printf("protocol logic: %d On commands with full handshake in %.3f s: %.0f commands/s, %.2f us each\n",
                rounds, seconds, rounds / seconds, seconds / rounds * 1e6);
    if (ready != rounds) {
        std::printf("  warning: %d ready events for %d commands\n", ready, rounds);
    }

    // A queue that grows because nobody answers: entries per MiB of resident memory.
    const long before = maxResidentKiB();
    constexpr int queued = 500000;
    for (int i = 0; i < queued; ++i) {
        control.x10on("B", "02");
    }
    port->writes.clear();
    const long after = maxResidentKiB();
    std::printf("send queue: %d unanswered commands queued %d entries; peak resident memory grew by %ld KiB (%.1f bytes per command)\n",
                queued, control.colstring()->count(), after - before,
                static_cast<double>(after - before) * 1024.0 / queued);
}

// The whole path: the control on a real pty, x10sim answering at once.
void benchmarkOverPseudoTerminal() {
    x10sim::Simulator sim;
    sim.start();
    qputenv("QUENVAR_COMM1", sim.devicePath().toUtf8());
    quenvar::testing::RecordingMessageBoxes boxes;
    quenvar::control::Quenvar control(std::make_unique<quenvar::serial::QtSerialComponent>(), boxes);
    int ready = 0;
    control.setX10readyHandler([&] { ++ready; });
    control.openx10(1);

    constexpr int rounds = 500;
    QEventLoop loop;
    // Each ready event starts the next command from the event loop, as a host's click would.
    control.setX10readyHandler([&] {
        if (++ready == rounds) {
            loop.quit();
        } else {
            QTimer::singleShot(0, [&] { control.x10on("C", "03"); });
        }
    });
    QTimer::singleShot(10000, &loop, [&] { loop.quit(); });
    QElapsedTimer timer;
    timer.start();
    control.x10on("C", "03");
    loop.exec();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (ready != rounds) {
        std::printf("over a pty: only %d of %d commands finished within 10 s\n", ready, rounds);
        return;
    }
    std::printf("over a pty with x10sim (no line pacing): %d On commands in %.3f s: %.0f commands/s, %.2f ms each (8 bytes each way per command)\n",
                rounds, seconds, rounds / seconds, seconds / rounds * 1e3);
    std::printf("  for comparison, a real interface needs about 0.84 s per On command at 60 Hz (two power-line frames)\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmarkProtocolLogic();
    benchmarkOverPseudoTerminal();
    return 0;
}
