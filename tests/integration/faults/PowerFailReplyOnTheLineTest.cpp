// The control's answer to a power failure on a simulated interface over a real pseudo-terminal:
// each kind of interface (satisfied by either answer, or wanting its clock), each setting of
// powerfailreply, the request meeting the control idle, awaiting the echo of On A1's address or
// awaiting its ready byte. Where the setting suits the interface, On A1 reaches the power line
// once, x10ready comes once and no box is shown; where it does not, the interface stays stuck.

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
    x10sim::PowerFailAnswer interfaceWants;
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

TEST_P(PowerFailOnTheLine, OnA1GoesOutOnceWhereTheAnswerSuitsTheInterface) {
    const Row& row = GetParam();
    const bool suits = row.interfaceWants == x10sim::PowerFailAnswer::MacroOrClock || row.reply == reply::clockSetting;
    const char header = row.reply == reply::clockSetting ? '\x9B' : '\xFB';
    ControlOnSimulatedLine line;
    x10sim::SimulatorOptions options;
    options.powerFailAnswer = row.interfaceWants;
    line.startInterface(options);
    line.control().put(member::powerfailreply, automation::Variant::fromInt16(row.reply));
    ASSERT_EQ(line.openPort().number, 0);
    x10sim::Simulator& sim = line.interface();

    switch (row.meets) {
        case Meets::Idle:
            sim.powerFailure();
            ASSERT_TRUE(
                waitUntil([&] { return suits ? interfaceAnswered(sim) : sim.receivedBytes().contains(header); }));
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

    if (suits) {
        ASSERT_TRUE(waitUntil([&] { return line.readyEvents() == 1; }, 3s)) << "On A1 never finished";
        processEventsFor(30ms);
        EXPECT_EQ(line.frameTexts(), (std::vector<std::string>{"A1 address", "A On"}));
        EXPECT_TRUE(sim.module('A', 1).on);
        EXPECT_EQ(line.readyEvents(), 1);
        EXPECT_EQ(line.comstatus(), control::handshake::idle);
        EXPECT_TRUE(interfaceAnswered(sim));
    } else {
        // The interface that wants its clock takes 0xFB for a block of its memory and asks again
        // every second; the control answers every time, and On A1 never goes out. Watched for
        // three requests, not waited out.
        ASSERT_TRUE(waitUntil([&] { return sim.sentBytes().count('\xA5') >= 3; }, 5s));
        processEventsFor(30ms);
        EXPECT_TRUE(line.frameTexts().empty());
        EXPECT_FALSE(sim.module('A', 1).on);
        EXPECT_EQ(line.readyEvents(), 0);
        EXPECT_FALSE(interfaceAnswered(sim));
    }
    EXPECT_TRUE(line.boxes().seen().empty());
    // The answer the setting calls for went out, once per request.
    EXPECT_EQ(sim.receivedBytes().count(header), sim.sentBytes().count('\xA5'));
}

constexpr auto either = x10sim::PowerFailAnswer::MacroOrClock;
constexpr auto clockOnly = x10sim::PowerFailAnswer::ClockOnly;

// clang-format off
INSTANTIATE_TEST_SUITE_P(InterfaceSettingState, PowerFailOnTheLine, ::testing::Values(
    Row{"EitherMacroWhileIdle", either, reply::macroDownload, Meets::Idle},
    Row{"EitherMacroAwaitingTheEcho", either, reply::macroDownload, Meets::AwaitingEcho},
    Row{"EitherMacroAwaitingTheReadyByte", either, reply::macroDownload, Meets::AwaitingReady},
    Row{"EitherClockWhileIdle", either, reply::clockSetting, Meets::Idle},
    Row{"EitherClockAwaitingTheEcho", either, reply::clockSetting, Meets::AwaitingEcho},
    Row{"EitherClockAwaitingTheReadyByte", either, reply::clockSetting, Meets::AwaitingReady},
    Row{"ClockOnlyClockWhileIdle", clockOnly, reply::clockSetting, Meets::Idle},
    Row{"ClockOnlyClockAwaitingTheEcho", clockOnly, reply::clockSetting, Meets::AwaitingEcho},
    Row{"ClockOnlyClockAwaitingTheReadyByte", clockOnly, reply::clockSetting, Meets::AwaitingReady},
    Row{"ClockOnlyMacroWhileIdleStaysStuck", clockOnly, reply::macroDownload, Meets::Idle},
    Row{"ClockOnlyMacroAwaitingTheEchoStaysStuck", clockOnly, reply::macroDownload, Meets::AwaitingEcho},
    Row{"ClockOnlyMacroAwaitingTheReadyByteStaysStuck", clockOnly, reply::macroDownload, Meets::AwaitingReady}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace quenvar::testing
