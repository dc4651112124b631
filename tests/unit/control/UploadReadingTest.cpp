// The control when the line talks back: the interface's poll 0x5A in every state of the
// handshake, the upload read whole and told as x10received, and the control's own transmission
// never lost to it.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "control/UploadDecoder.h"
#include "tests/support/HexBytes.h"
#include "tests/unit/control/ControlFixture.h"

namespace quenvar::control {
// Defined with the decoder's tests.
void PrintTo(const HeardFunction& f, std::ostream* out);
}  // namespace quenvar::control

namespace quenvar::testing {
namespace {

using control::HeardFunction;
namespace hs = control::handshake;

struct Script {
    const char* name;
    std::vector<Step> steps;
    const char* written;  // every byte the control wrote, in hex
    std::vector<HeardFunction> heard;
    int readyEvents;
    std::int16_t comstatus;
};

void PrintTo(const Script& s, std::ostream* out) { *out << s.name; }

const auto onA1 = [](control::Quenvar& c) { c.x10on("A", "01"); };

class UploadReading : public ControlFixture, public ::testing::WithParamInterface<Script> {};

TEST_P(UploadReading, AnswersThePollReadsTheUploadAndGoesOnWithItsOwnWork) {
    const Script& script = GetParam();
    openPort();
    play(script.steps);
    EXPECT_EQ(spaced(port->takeWritten()), spaced(hex(script.written)));
    EXPECT_EQ(heard, script.heard);
    EXPECT_EQ(readyEvents, script.readyEvents);
    EXPECT_EQ(control->comstatus(), script.comstatus);
    EXPECT_TRUE(boxes.shown.empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scripts, UploadReading, ::testing::Values(
    Script{"IdlePollIsAnsweredAndTheUploadReadWhole", {arrive("5A 03 02 66 62")}, "C3", {{"A", "01", "On", 0}}, 0,
           hs::idle},
    Script{"UploadBytesAreNeverTakenForEchoesOrReadyBytes", {host(onA1), arrive("6A 5A 05 02 6E 67 55 6A")},
           "0466 00 C3 0662", {{"A", "02", "Extended Code", 0}}, 0, hs::awaitingEcho},
    Script{"PollInsteadOfTheEchoSendsTheTransmissionAgain", {host(onA1), arrive("5A 02 00 E6 6A 55 68 55")},
           "0466 C3 0466 00 0662 00", {}, 1, hs::idle},
    Script{"PollInsteadOfTheReadyByteGoesOnWithTheQueue", {host(onA1), arrive("6A 5A 03 02 EE E2 68 55")},
           "0466 00 C3 0662 00", {{"B", "02", "On", 0}}, 1, hs::idle},
    Script{"PollInsteadOfTheLastReadyByteRaisesReady",
           {host([](control::Quenvar& c) { c.lightson("A"); }), arrive("67 5A 02 00 66")}, "0661 00 C3", {}, 1,
           hs::idle},
    Script{"AChecksumThatIs5AStaysAnEcho", {host([](control::Quenvar& c) { c.sendx10(hex("04"), hex("56")); }),
                                            arrive("5A")},
           "0456 00", {}, 0, hs::awaitingReady},
    Script{"APollRepeatedBeforeTheSizeIsAnsweredAgain", {arrive("5A 5A 03 02 66 63")}, "C3 C3",
           {{"A", "01", "Off", 0}}, 0, hs::idle},
    Script{"ASizeOutOfRangeEndsTheReading", {arrive("5A 0A 02 66 62 5A 02 01 61")}, "C3 C3",
           {{"A", "", "All Lights On", 0}}, 0, hs::idle},
    Script{"ASizeOfNoughtEndsTheReading", {arrive("5A 00 5A 03 02 66 62")}, "C3 C3", {{"A", "01", "On", 0}}, 0,
           hs::idle},
    Script{"ASizeOutOfRangeWhileAwaitingTheEchoSendsAgain", {host(onA1), arrive("5A 33")}, "0466 C3 0466", {}, 0,
           hs::awaitingEcho},
    Script{"AnUploadCutShortEndsAtTheNextCommand", {arrive("5A 03 02"), host(onA1), arrive("6A 55 68 55")},
           "C3 0466 00 0662 00", {}, 1, hs::idle},
    Script{"ACommandDuringAnUploadThatInterruptedAHandshakeFollowsIt",
           {host(onA1), arrive("6A 5A 03"), host([](control::Quenvar& c) { c.x10off("B", "02"); }),
            arrive("68 55 F2 55 E9 55")},
           "0466 00 C3 0662 00 04EE 00 06E3 00", {}, 1, hs::idle},
    Script{"AnUploadOfTheMaskAloneTellsNothing", {arrive("5A 01 00")}, "C3", {}, 0, hs::idle},
    Script{"TheLongestUpload", {arrive("5A 09 80 66 6E 62 6A 61 69 65 62")}, "C3",
           {{"A", "01,02,03,04,05,06,07", "On", 0}}, 0, hs::idle},
    Script{"DimAndBrightTellTheirLevel", {arrive("5A 06 0A 66 64 69 65 D2")}, "C3",
           {{"A", "01", "Dim", 50}, {"A", "01", "Bright", 100}}, 0, hs::idle}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Where the poll met the control: before any command, instead of the echo of A1's address,
// instead of its ready byte. What the control wrote from x10on A1 on.
struct Meeting {
    const char* name;
    const char* before;  // nullptr: no command; else what arrives after x10on A1, before the poll
    const char* written;
};

void PrintTo(const Meeting& m, std::ostream* out) { *out << m.name; }

class HostReactingToX10received : public ControlFixture, public ::testing::WithParamInterface<Meeting> {};

// A motion sensor switches a lamp: the command the host gives from its x10received handler
// waits for the control's own work and then goes out whole.
TEST_P(HostReactingToX10received, ACommandFromTheHandlerGoesOutAfterTheControlsOwnWork) {
    openPort();
    onHeard = [this](const HeardFunction&) { control->x10off("B", "02"); };
    if (GetParam().before) {
        control->x10on("A", "01");
        port->receive(hex(GetParam().before));
    }
    port->receive(hex("5A 03 02 6C 62"));
    // A well-behaved interface from here on: each echo, then each ready byte.
    for (int answers = 0; answers < 12 && control->comstatus() != hs::idle; ++answers) {
        port->receive(control->comstatus() == hs::awaitingEcho ? control->checksum() : hex("55"));
    }
    EXPECT_EQ(spaced(port->takeWritten()), spaced(hex(GetParam().written)));
    EXPECT_EQ(heard, (std::vector<HeardFunction>{{"A", "16", "On", 0}}));
    EXPECT_EQ(readyEvents, 1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Meetings, HostReactingToX10received, ::testing::Values(
    Meeting{"WhileIdle", nullptr, "C3 04EE 00 06E3 00"},
    Meeting{"InsteadOfTheEcho", "", "0466 C3 0466 00 0662 00 04EE 00 06E3 00"},
    Meeting{"InsteadOfTheReadyByte", "6A", "0466 00 C3 0662 00 04EE 00 06E3 00"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace quenvar::testing
