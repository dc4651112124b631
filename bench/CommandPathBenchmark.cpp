// The control's own work, with the scripted serial component of the tests, keeping nothing:
// - one unit command (x10on "A","01") through Dispatch::invoke down to the bytes handed to the
//   serial component;
// - the receive handler, per received byte, through whole handshakes driven by the
//   interface's answers (echo, 0x55, echo, 0x55 for each On command).
// Figures only; nothing here passes or fails.

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "control/QuenvarControl.h"
#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "control/X10Codes.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/ui/MessageBoxes.h"
#include "tests/support/ScriptedSerialComponent.h"

namespace {

using quenvar::automation::InvokeKind;
using quenvar::automation::Variant;
using quenvar::bench::percentile;
using quenvar::testing::ScriptedSerialComponent;
using Clock = std::chrono::steady_clock;
namespace control = quenvar::control;

// A box would mean a command was refused: the figures would not be of the path they claim.
class CountingBoxes : public quenvar::ui::MessageBoxes {
public:
    int shown = 0;
    void showMessage(const std::string& prompt, const std::string&) override {
        if (shown++ == 0) std::printf("  warning: the control showed \"%s\"\n", prompt.c_str());
    }
};

struct ControlOnNullPort {
    ScriptedSerialComponent* port = nullptr;
    std::shared_ptr<CountingBoxes> boxes = std::make_shared<CountingBoxes>();
    std::unique_ptr<control::QuenvarControl> control;
    int readyEvents = 0;

    ControlOnNullPort() {
        auto component = std::make_unique<ScriptedSerialComponent>();
        port = component.get();
        port->keepWrites = false;  // only counted
        control = std::make_unique<control::QuenvarControl>(std::move(component), boxes);
        // A host listening for x10ready, so that the event goes through the connection point.
        auto sink = std::make_shared<quenvar::automation::EventSink>(
            control::quenvarEventInterface(), [this](quenvar::automation::MemberId, auto) { ++readyEvents; });
        control->findConnectionPoint(control::identifiers::quenvarEvents)->advise(sink);
        control->call(control::member::openx10, {Variant::fromInt16(1)});
    }

    // As a host calls it: the arguments made for the call, late bound by member id.
    void x10on() {
        std::vector<Variant> args{Variant::fromText("A"), Variant::fromText("01")};
        control->invoke(control::member::x10on, InvokeKind::Method, args);
    }
};

double nanosecondsBetween(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::nano>(end - start).count();
}

void benchmarkCommandThroughInvoke() {
    ControlOnNullPort setup;
    // Nobody answers, so each command leaves its function transmission queued; the queue is
    // replaced by an empty one after every batch (outside the timing) so that it stays small.
    constexpr int commandsPerBatch = 200;
    constexpr int warmUpBatches = 200;
    constexpr int batches = 5000;
    std::vector<double> perCommand;
    perCommand.reserve(batches);
    for (int batch = 0; batch < warmUpBatches + batches; ++batch) {
        const auto start = Clock::now();
        for (int i = 0; i < commandsPerBatch; ++i) setup.x10on();
        const auto end = Clock::now();
        setup.control->core().setColstring(nullptr);
        if (batch >= warmUpBatches) perCommand.push_back(nanosecondsBetween(start, end) / commandsPerBatch);
    }
    const long long commands = static_cast<long long>(warmUpBatches + batches) * commandsPerBatch;
    std::printf(
        "x10on \"A\",\"01\" through Dispatch::invoke to a scripted serial component that keeps nothing: median %.3f us "
        "per command "
        "(p99 of batch means %.3f us; %d batches of %d, queue emptied between batches; aim under 2 us)\n",
        percentile(perCommand, 0.5) / 1000.0, percentile(perCommand, 0.99) / 1000.0, batches, commandsPerBatch);
    if (setup.port->bytesWritten != static_cast<std::size_t>(commands) * 2 || setup.boxes->shown != 0) {
        std::printf("  warning: %zu bytes written for %lld commands (expected 2 each), %d boxes shown\n",
                    setup.port->bytesWritten, commands, setup.boxes->shown);
    }
}

void benchmarkReceiveHandler() {
    ControlOnNullPort setup;
    // The interface's answers to On A1: echo of the address, ready, echo of the function, ready.
    namespace x10 = control::x10;
    constexpr x10::HouseCode houseA = x10::houseCodes[0];
    constexpr std::uint8_t answers[] = {
        x10::Transmission::address(houseA, x10::unitCodes[0]).checksum(), x10::readyByte,
        x10::Transmission::function(houseA, x10::Function::On).checksum(), x10::readyByte};
    constexpr int warmUpCommands = 20000;
    constexpr int commands = 200000;
    std::vector<double> perByte;
    perByte.reserve(commands);
    for (int command = 0; command < warmUpCommands + commands; ++command) {
        setup.x10on();  // not timed: only the handling of the four answers is
        const auto start = Clock::now();
        for (std::uint8_t answer : answers) setup.port->receive(std::string(1, static_cast<char>(answer)));
        const auto end = Clock::now();
        if (command >= warmUpCommands) perByte.push_back(nanosecondsBetween(start, end) / std::size(answers));
    }
    std::printf(
        "receive handler, whole On handshakes driven by the answer bytes: median %.0f ns per byte, p99 %.0f ns "
        "(%d handshakes of 4 bytes; includes one clock read per 4 bytes; aim under 200 ns)\n",
        percentile(perByte, 0.5), percentile(perByte, 0.99), commands);
    const int total = warmUpCommands + commands;
    // Per command: address (2) + acknowledge (1) + function (2) + acknowledge (1).
    if (setup.readyEvents != total || setup.port->bytesWritten != static_cast<std::size_t>(total) * 6 ||
        setup.boxes->shown != 0) {
        std::printf(
            "  warning: %d x10ready events, %zu bytes written for %d handshakes (expected 1 and 6 each), "
            "%d boxes shown\n",
            setup.readyEvents, setup.port->bytesWritten, total, setup.boxes->shown);
    }
}

}  // namespace

int main() {
    quenvar::bench::printHeader("The command path: the control's own work, no line behind it");
    benchmarkCommandThroughInvoke();
    benchmarkReceiveHandler();
    return 0;
}
