// The answer to the interface's power-fail request in both settings of powerfailreply: the bytes
// on the wire in every state the request can meet, the reply's own handshake kept apart from the
// commands' (no x10ready, no box), and the command the request broke into carried through.

#include <gtest/gtest.h>

#include <bitset>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "control/X10Codes.h"
#include "tests/support/RuntimeErrors.h"
#include "tests/unit/control/ControlFixture.h"

namespace quenvar::testing {
namespace {

namespace hs = control::handshake;
namespace reply = control::power_fail_reply;
using control::x10::LocalTime;

// 22:33:41 on Tuesday, day 341 of the year: the clock setting 9B 29 21 0B 55 84 60, whose six
// data bytes add up to 0x18E, so the interface echoes 8E.
constexpr LocalTime tuesdayEvening{.second = 41, .minute = 33, .hour = 22, .yearDay = 341, .weekday = 2};
const std::string clockSetting = "9B 29 21 0B 55 84 60";
const std::string macroDownload = "FB" + [] {
    std::string zeros;
    for (int i = 0; i < 42; ++i) zeros += " 00";
    return zeros;
}();

struct Conversation {
    const char* name;
    std::int16_t reply;
    std::vector<Step> steps;
    std::string written;  // every byte the control wrote, in hex
    int readyEvents;
};

void PrintTo(const Conversation& c, std::ostream* out) { *out << c.name; }

const auto onA1 = [](control::Quenvar& c) { c.x10on("A", "01"); };
const auto offB2 = [](control::Quenvar& c) { c.x10off("B", "02"); };

class PowerFailReply : public ControlFixture, public ::testing::WithParamInterface<Conversation> {
protected:
    PowerFailReply() {
        control->setLocalClock([] { return tuesdayEvening; });
    }
};

TEST_P(PowerFailReply, AnswersTheRequestAndCarriesTheCommandThrough) {
    const Conversation& c = GetParam();
    openPort();
    control->setPowerfailreply(c.reply);
    control->setCountmacro(7);
    play(c.steps);
    EXPECT_EQ(spaced(port->takeWritten()), spaced(hex(c.written)));
    EXPECT_EQ(readyEvents, c.readyEvents);
    EXPECT_EQ(control->comstatus(), hs::idle);
    EXPECT_EQ(control->colstring()->count(), 0);
    EXPECT_EQ(control->countmacro(), 0);  // set to 0 by every reply
    EXPECT_TRUE(boxes.shown.empty());
}

// x10on A1 on a well-behaved interface is 0466 / 6A 00 / 55 0662 / 68 00 / 55; the request comes
// before it or in place of one of the interface's answers, and is answered by the setting. The
// reply's handshake is echo, 00, 55; then the transmission the mains took goes out again.
// clang-format off
INSTANTIATE_TEST_SUITE_P(States, PowerFailReply, ::testing::Values(
    Conversation{"MacroWhileIdle", reply::macroDownload, {arrive("A5 00"), host(onA1), arrive("6A 55 68 55")},
                 macroDownload + " 0466 00 0662 00", 1},
    Conversation{"ClockWhileIdle", reply::clockSetting, {arrive("A5 8E 55"), host(onA1), arrive("6A 55 68 55")},
                 clockSetting + " 00 0466 00 0662 00", 1},
    Conversation{"MacroAwaitingTheEcho", reply::macroDownload, {host(onA1), arrive("A5 00 55 6A 55 68 55")},
                 "0466 " + macroDownload + " 00 0466 00 0662 00", 1},
    Conversation{"ClockAwaitingTheEcho", reply::clockSetting, {host(onA1), arrive("A5 8E 55 6A 55 68 55")},
                 "0466 " + clockSetting + " 00 0466 00 0662 00", 1},
    Conversation{"MacroAwaitingTheReadyByte", reply::macroDownload, {host(onA1), arrive("6A A5 00 55 6A 55 68 55")},
                 "0466 00 " + macroDownload + " 00 0466 00 0662 00", 1},
    Conversation{"ClockAwaitingTheReadyByte", reply::clockSetting, {host(onA1), arrive("6A A5 8E 55 6A 55 68 55")},
                 "0466 00 " + clockSetting + " 00 0466 00 0662 00", 1},
    Conversation{"ClockAwaitingTheFunctionsEcho", reply::clockSetting, {host(onA1), arrive("6A 55 A5 8E 55 68 55")},
                 "0466 00 0662 " + clockSetting + " 00 0662 00", 1},
    Conversation{"ClockAwaitingTheLastReadyByte", reply::clockSetting, {host(onA1), arrive("6A 55 68 A5 8E 55 68 55")},
                 "0466 00 0662 00 " + clockSetting + " 00 0662 00", 1},
    // The reply's own handshake disturbed.
    Conversation{"ARequestRepeatedBeforeTheEchoIsAnsweredAgain", reply::clockSetting,
                 {host(onA1), arrive("A5 A5 8E 55 6A 55 68 55")},
                 "0466 " + clockSetting + " " + clockSetting + " 00 0466 00 0662 00", 1},
    Conversation{"AWrongEchoIsNotAcknowledgedAndTheCommandGoesOn", reply::clockSetting,
                 {host(onA1), arrive("A5 8F 6A 55 68 55")}, "0466 " + clockSetting + " 0466 00 0662 00", 1},
    Conversation{"ARequestAfterAWrongEchoIsAnsweredAgain", reply::clockSetting, {arrive("A5 8F A5 8E 55")},
                 clockSetting + " " + clockSetting + " 00", 0},
    Conversation{"AnythingButReadyAfterTheAcknowledgeEndsTheReplyQuietly", reply::clockSetting,
                 {host(onA1), arrive("A5 8E AA 6A 55 68 55")}, "0466 " + clockSetting + " 00 0466 00 0662 00", 1},
    Conversation{"APollInPlaceOfTheReplysEcho", reply::clockSetting,
                 {host(onA1), arrive("A5 5A 03 02 EE E2 6A 55 68 55")},
                 "0466 " + clockSetting + " C3 0466 00 0662 00", 1},
    Conversation{"APollInPlaceOfTheReplysReadyByte", reply::clockSetting,
                 {host(onA1), arrive("A5 8E 5A 02 00 E6 6A 55 68 55")},
                 "0466 " + clockSetting + " 00 C3 0466 00 0662 00", 1},
    Conversation{"ACommandWhileTheReplyIsUnderWayFollowsTheOneItBrokeInto", reply::clockSetting,
                 {host(onA1), arrive("A5"), host(offB2), arrive("8E 6A 55 68 55 F2 55 E9 55")},
                 "0466 " + clockSetting + " 0466 00 0662 00 04EE 00 06E3 00", 1},
    Conversation{"ACommandWhileAnIdleReplyIsUnderWayGoesOut", reply::clockSetting,
                 {arrive("A5"), host(onA1), arrive("8E 6A 55 68 55")}, clockSetting + " 0466 00 0662 00", 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The request can also reach the control while its host handles x10ready (a host whose handler
// shows a box of its own): the state is still 1 then, but the command is done and nothing is
// sent again, unless the handler started one of its own.
TEST_F(PowerFailReply, DuringX10readyOnlyATransmissionTheHostStartedGoesOutAgain) {
    struct Case {
        const char* name;
        std::function<void()> handler;
        std::string written;  // after On A1's own bytes
    };
    const std::vector<Case> cases = {
        {"nothing started", [this] { port->receive(hex("A5 8E 55")); }, clockSetting + " 00"},
        {"Off B2 started",
         [this] {
             control->x10off("B", "02");
             port->receive(hex("A5 8E 55 F2 55 E9 55"));
         },
         "04EE " + clockSetting + " 00 04EE 00 06E3 00"},
    };
    openPort();
    control->setPowerfailreply(reply::clockSetting);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        readyEvents = 0;
        onReady = [&] {
            onReady = nullptr;  // the x10ready of the handler's own command is plain
            c.handler();
        };
        play({host(onA1), arrive("6A 55 68")});
        port->writes.clear();
        port->receive(hex("55"));
        EXPECT_EQ(spaced(port->takeWritten()), spaced(hex(c.written)));
        EXPECT_EQ(control->comstatus(), hs::idle);
        EXPECT_EQ(control->colstring()->count(), 0);
    }
}

TEST(ClockSetting, CarriesTheTimeDayAndMonitoredHouse) {
    struct Case {
        LocalTime time;
        const char* data;
    };
    const Case cases[] = {
        {tuesdayEvening, "29 21 0B 55 84 60"},
        {{.second = 0, .minute = 0, .hour = 0, .yearDay = 0, .weekday = 0}, "00 00 00 00 01 60"},  // New Year, Sunday
        {{.second = 7, .minute = 5, .hour = 13, .yearDay = 255, .weekday = 3}, "07 41 06 FF 08 60"},
        {{.second = 59, .minute = 59, .hour = 23, .yearDay = 256, .weekday = 6}, "3B 77 0B 00 C0 60"},
        {{.second = 60, .minute = 59, .hour = 23, .yearDay = 365, .weekday = 5}, "3B 77 0B 6D A0 60"},  // leap second
    };
    for (const Case& c : cases) {
        const auto data = control::x10::clockSettingData(c.time, control::x10::houseCodes[0]);
        EXPECT_EQ(spaced(std::string(data.begin(), data.end())), spaced(hex(c.data))) << c.data;
    }
}

TEST(ClockSetting, TheHostsClockGivesASettingTheInterfaceCanTake) {
    ScriptedSerialComponent* port = nullptr;
    RecordingMessageBoxes boxes;
    auto component = std::make_unique<ScriptedSerialComponent>();
    port = component.get();
    control::Quenvar control(std::move(component), boxes);
    control.openx10(1);
    control.setPowerfailreply(reply::clockSetting);
    port->receive(hex("A5"));
    const std::string written = port->takeWritten();
    ASSERT_EQ(written.size(), 7u);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(written[i]); };
    EXPECT_EQ(byte(0), 0x9B);
    EXPECT_LT(byte(1), 60);
    EXPECT_LT(byte(2), 120);
    EXPECT_LT(byte(3), 12);
    EXPECT_EQ(std::bitset<7>(byte(5) & 0x7F).count(), 1u) << "one weekday";
    EXPECT_LE((byte(5) >> 7) * 256 + byte(4), 365);
    EXPECT_EQ(byte(6), 0x60);
}

TEST(PowerFailReplySetting, TakesTheTwoSettingsAndRefusesOthersKeepingItsValue) {
    struct Case {
        std::int16_t written;
        std::int32_t error;
        std::int16_t after;
    };
    const Case cases[] = {{1, 0, 1}, {2, 380, 1}, {0, 0, 0}, {-1, 380, 0}, {32767, 380, 0}, {1, 0, 1}};
    RecordingMessageBoxes boxes;
    control::Quenvar control(std::make_unique<ScriptedSerialComponent>(), boxes);
    EXPECT_EQ(control.powerfailreply(), reply::macroDownload);
    for (const Case& c : cases) {
        const RaisedError raised = errorOf([&] { control.setPowerfailreply(c.written); });
        EXPECT_EQ(raised.number, c.error) << c.written;
        if (c.error != 0) {
            EXPECT_EQ(raised.description, "Invalid property value");
        }
        EXPECT_EQ(control.powerfailreply(), c.after) << c.written;
    }
}

}  // namespace
}  // namespace quenvar::testing
