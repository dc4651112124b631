// The whole path a command takes: the control (called through invoke, as a host calls it) on
// its QSerialPort component, a real pseudo-terminal, and the virtual interface in the same
// event loop answering. Once with replies at once, once with the line paced at 4800 bit/s in
// both directions (and no time on the power line), to see how close the control comes to the
// wire's own limit. Figures only; nothing here passes or fails.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/StepTimingSerialComponent.h"
#include "control/QuenvarControl.h"
#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/serial/QtSerialComponent.h"
#include "platform/ui/MessageBoxes.h"
#include "sim/Simulator.h"

namespace {

using quenvar::automation::InvokeKind;
using quenvar::automation::Variant;
using quenvar::bench::percentile;
using quenvar::bench::StepTimingSerialComponent;
namespace control = quenvar::control;

class PrintedBoxes : public quenvar::ui::MessageBoxes {
public:
    int shown = 0;
    void showMessage(const std::string& prompt, const std::string& title) override {
        ++shown;
        std::printf("  warning: message box \"%s\": %s\n", title.c_str(), prompt.c_str());
    }
};

struct RunResult {
    int finished = 0;
    double seconds = 0;
    std::vector<double> steps;  // microseconds
    long long wireBytes = 0;    // both directions, as the interface counted them
};

// Runs `commands` On commands one after another, each started from the event loop once the
// previous one has raised x10ready, as a host's click would.
RunResult runCommands(x10sim::Simulator& simulator, int commands, int warmUpCommands) {
    qputenv("QUENVAR_COMM1", simulator.devicePath().toUtf8());
    auto boxes = std::make_shared<PrintedBoxes>();
    auto timing = std::make_unique<StepTimingSerialComponent>(std::make_unique<quenvar::serial::QtSerialComponent>());
    StepTimingSerialComponent* steps = timing.get();
    control::QuenvarControl quenvar(std::move(timing), boxes);
    quenvar.call(control::member::openx10, {Variant::fromInt16(1)});

    // Steps are counted from the first measured command on: the warm-up's last step ends only
    // after its x10ready handler has returned.
    bool measuring = warmUpCommands == 0;
    bool startMeasuring = false;
    const auto x10on = [&] {
        if (std::exchange(startMeasuring, false)) {
            steps->steps.clear();
            measuring = true;
        }
        std::vector<Variant> args{Variant::fromText("A"), Variant::fromText("01")};
        quenvar.invoke(control::member::x10on, InvokeKind::Method, args);
    };

    QEventLoop loop;
    int ready = 0;
    const int total = warmUpCommands + commands;
    QElapsedTimer timer;
    long long wireBytesBefore = 0;
    RunResult result;
    auto sink = std::make_shared<quenvar::automation::EventSink>(
        control::quenvarEventInterface(), [&](quenvar::automation::MemberId, auto) {
            ++ready;
            if (ready == warmUpCommands) {
                startMeasuring = true;
                wireBytesBefore = simulator.receivedBytes().size() + simulator.sentBytes().size();
                timer.start();
            }
            if (ready == total) {
                result.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
                loop.quit();
                return;
            }
            QTimer::singleShot(0, &loop, x10on);
        });
    quenvar.findConnectionPoint(control::identifiers::quenvarEvents)->advise(sink);

    QTimer::singleShot(30000, &loop, [&] { loop.quit(); });
    if (warmUpCommands == 0) timer.start();
    x10on();
    loop.exec();

    result.finished = ready - warmUpCommands;
    if (measuring) result.steps = steps->steps;
    result.wireBytes = simulator.receivedBytes().size() + simulator.sentBytes().size() - wireBytesBefore;
    if (ready != total) {
        std::printf("  warning: only %d of %d commands finished within 30 s\n", ready, total);
    }
    return result;
}

void benchmarkRepliesAtOnce() {
    x10sim::Simulator simulator;
    simulator.start();
    constexpr int commands = 2000;
    const RunResult run = runCommands(simulator, commands, 50);
    std::printf("over a pty, x10sim answering at once: %d On commands in %.3f s: %.0f commands/s (aim >= 1000)\n",
                run.finished, run.seconds, run.finished / run.seconds);
    std::printf(
        "  handshake step (a write by the control to the awaited reply handled), %zu steps: "
        "p50 %.0f us, p99 %.0f us (aim p99 under 1 ms)\n",
        run.steps.size(), percentile(run.steps, 0.5), percentile(run.steps, 0.99));
}

void benchmarkPacedLine() {
    x10sim::SimulatorOptions options;
    options.wirePacing = true;
    x10sim::Simulator simulator(options);
    simulator.start();
    constexpr int commands = 100;
    const RunResult run = runCommands(simulator, commands, 5);
    constexpr double secondsPerByte = 10.0 / 4800.0;
    const double wireSeconds = static_cast<double>(run.wireBytes) * secondsPerByte;
    std::printf(
        "over a pty, line paced at 4800 bit/s both ways, no power-line time: %d On commands in %.3f s; "
        "their %lld bytes need %.3f s on the wire: ratio %.3f (aim at most 1.05)\n",
        run.finished, run.seconds, run.wireBytes, wireSeconds, run.seconds / wireSeconds);
    // Steps alternate: a transmission (2 bytes out, the echo back: 3 byte times), then its
    // acknowledge (1 byte out, ready back: 2 byte times). What lies beyond those is the cost of
    // the control, the pty and the event loop.
    std::vector<double> beyondWire[2];
    for (std::size_t i = 0; i < run.steps.size(); ++i) {
        const int byteTimes = i % 2 == 0 ? 3 : 2;
        beyondWire[i % 2].push_back(run.steps[i] - byteTimes * secondsPerByte * 1e6);
    }
    std::printf(
        "  time per handshake step beyond its bytes' wire time: transmission to echo p50 %.0f us, p99 %.0f us; "
        "acknowledge to ready p50 %.0f us, p99 %.0f us\n",
        percentile(beyondWire[0], 0.5), percentile(beyondWire[0], 0.99), percentile(beyondWire[1], 0.5),
        percentile(beyondWire[1], 0.99));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    quenvar::bench::printHeader("The whole path: control, QSerialPort, a pseudo-terminal and x10sim in one event loop");
    benchmarkRepliesAtOnce();
    benchmarkPacedLine();
    return 0;
}
