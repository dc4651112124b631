// The control's answer to a power failure on a simulated interface over a real pseudo-terminal:
// each kind of interface, each setting of powerfailreply, the request meeting the control idle,
// awaiting the echo of On A1's address or awaiting its ready byte. Where the setting suits the
// interface, On A1 reaches the power line once, x10ready comes once and no box is shown.

#include <gtest/gtest.h>

#include <QByteArray>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "control/Quenvar.h"
#include "tests/integration/faults/ControlOnSimulatedLine.h"
#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {
namespace {

using namespace std::chrono_literals;
namespace member = control::member;
namespace reply = control::power_fail_reply;

enum class Meets { Idle, AwaitingEcho, AwaitingReady };

struct Row {
    const char* name;
    std::int16_t reply;
    Meets meets;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

bool interfaceAnswered(x10sim::Simulator& sim) {
    using State = x10sim::InterfaceProtocol::State;
    const State state = sim.protocolState();
    return state != State::PowerFailRequesting && state != State::ReceivingMacro && state != State::ReceivingClock;
}

class PowerFailOnTheLine : public ::testing::TestWithParam<Row> {};

TEST_P(PowerFailOnTheLine, TheInterfaceIsAnsweredAndOnA1GoesOutOnce) {
    const Row& row = GetParam();
    ControlOnSimulatedLine line;
    line.control().put(member::powerfailreply, automation::Variant::fromInt16(row.reply));
    ASSERT_EQ(line.openPort().number, 0);
    x10sim::Simulator& sim = line.interface();

    switch (row.meets) {
        case Meets::Idle:
            sim.powerFailure();
            ASSERT_TRUE(waitUntil([&] { return interfaceAnswered(sim); }));
            break;
        case Meets::AwaitingEcho:
            // The mains goes as the address arrives: the interface never echoes it.
            line.whenReceived(2, [](x10sim::Simulator& s) { s.powerFailure(); });
            break;
        case Meets::AwaitingReady:
            // The mains goes while the address frame is on the power line.
            line.whenReceived(3, [](x10sim::Simulator& s) { s.powerFailure(); });
            break;
    }
    ASSERT_EQ(line.unitCommand(member::x10on, "A", "01").number, 0);
    ASSERT_TRUE(waitUntil([&] { return line.readyEvents() == 1; }, 3s)) << "On A1 never finished";
    processEventsFor(30ms);

    EXPECT_EQ(line.frameTexts(), (std::vector<std::string>{"A1 address", "A On"}));
    EXPECT_TRUE(sim.module('A', 1).on);
    EXPECT_EQ(line.readyEvents(), 1);
    EXPECT_EQ(line.comstatus(), control::handshake::idle);
    EXPECT_TRUE(line.boxes().seen().empty());
    EXPECT_TRUE(interfaceAnswered(sim));
    // The answer the setting calls for went out, once per request.
    const char header = row.reply == reply::clockSetting ? '\x9B' : '\xFB';
    EXPECT_EQ(sim.receivedBytes().count(header), sim.sentBytes().count('\xA5'));
    EXPECT_GE(sim.sentBytes().count('\xA5'), 1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EitherAnswer, PowerFailOnTheLine, ::testing::Values(
    Row{"MacroWhileIdle", reply::macroDownload, Meets::Idle},
    Row{"MacroAwaitingTheEcho", reply::macroDownload, Meets::AwaitingEcho},
    Row{"MacroAwaitingTheReadyByte", reply::macroDownload, Meets::AwaitingReady},
    Row{"ClockWhileIdle", reply::clockSetting, Meets::Idle},
    Row{"ClockAwaitingTheEcho", reply::clockSetting, Meets::AwaitingEcho},
    Row{"ClockAwaitingTheReadyByte", reply::clockSetting, Meets::AwaitingReady}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace quenvar::testing
