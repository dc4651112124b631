// The lighting commands: the bytes each one queues and sends, the code tables behind them,
// the dim header and the order of the argument checks.

#include <gtest/gtest.h>

#include <functional>

#include "control/X10Codes.h"
#include "platform/automation/RuntimeError.h"
#include "tests/support/RuntimeErrors.h"
#include "tests/unit/control/ControlFixture.h"

namespace quenvar::control {
// Reaches the control's private look-ups.
class QuenvarInternals {
public:
    static std::int16_t gethouse(const std::string& house) { return Quenvar::gethouse(house); }
    static std::int16_t getunit(const std::string& unit) { return Quenvar::getunit(unit); }
};
}  // namespace quenvar::control

namespace quenvar::testing {
namespace {

using automation::RuntimeError;
using control::QuenvarInternals;
using Command = std::function<void(control::Quenvar&)>;

TEST(HouseLookup, LettersOfEitherCaseAndNothingElse) {
    const std::pair<const char*, int> known[] = {
        {"A", 0x60}, {"a", 0x60}, {"B", 0xE0}, {"C", 0x20}, {"c", 0x20}, {"D", 0xA0}, {"E", 0x10},
        {"F", 0x90}, {"G", 0x50}, {"H", 0xD0}, {"I", 0x70}, {"J", 0xF0}, {"K", 0x30}, {"L", 0xB0},
        {"M", 0x00}, {"m", 0x00}, {"N", 0x80}, {"O", 0x40}, {"P", 0xC0}, {"p", 0xC0},
    };
    for (const auto& [text, nibble] : known) {
        EXPECT_EQ(QuenvarInternals::gethouse(text), nibble) << text;
    }
    for (const char* unknown : {"", " A", "A ", "AB", "Q", "q", "1", "@"}) {
        EXPECT_EQ(QuenvarInternals::gethouse(unknown), 0) << '"' << unknown << '"';
    }
}

TEST(UnitLookup, EveryNotationOfAUnitNumberNamesThatUnit) {
    const std::pair<const char*, int> known[] = {
        {"01", 6}, {"02", 14}, {"03", 2}, {"04", 10}, {"05", 1}, {"06", 9}, {"07", 5}, {"08", 13},
        {"09", 7}, {"10", 15}, {"11", 3}, {"12", 11}, {"13", 0}, {"14", 8}, {"15", 4}, {"16", 12},
    };
    for (const auto& [text, nibble] : known) {
        EXPECT_EQ(QuenvarInternals::getunit(text), nibble) << text;
    }
    // Other notations of the same numbers name the same units, not unit 13's nibble 0.
    const std::pair<const char*, int> otherNotations[] = {
        {"1", 6}, {"7", 5}, {"001", 6}, {"+1", 6}, {"1.0", 6}, {" 01", 6}, {"01 ", 6}, {"16.0", 12},
    };
    for (const auto& [text, nibble] : otherNotations) {
        EXPECT_EQ(QuenvarInternals::getunit(text), nibble) << '"' << text << '"';
    }
    for (const char* noUnit : {"", "17", "0", "-1", "A", "40000"}) {
        EXPECT_EQ(QuenvarInternals::getunit(noUnit), 0) << '"' << noUnit << '"';
    }
}

TEST(DimHeader, ValuesEndingInFiveCarryOneStepLess) {
    // Per tens digit: the header for ones 0-4 and 6-9, and for ones 5.
    const int headers[10][2] = {
        {0x0E, 0x06}, {0x1E, 0x16}, {0x2E, 0x26}, {0x3E, 0x36}, {0x4E, 0x46},
        {0x5E, 0x56}, {0x6E, 0x66}, {0x7E, 0x76}, {0x8E, 0x86}, {0x9E, 0x96},
    };
    for (int dim = 5; dim <= 95; ++dim) {
        const int expected = headers[dim / 10][dim % 10 == 5 ? 1 : 0];
        EXPECT_EQ(control::x10::dimHeader(static_cast<std::int16_t>(dim)), expected) << dim;
    }
    const std::pair<int, int> named[] = {{5, 0x06},  {9, 0x0E},  {10, 0x1E}, {15, 0x16},
                                         {37, 0x3E}, {50, 0x5E}, {95, 0x96}};
    for (const auto& [dim, header] : named) {
        EXPECT_EQ(control::x10::dimHeader(static_cast<std::int16_t>(dim)), header) << dim;
    }
}

struct WireCase {
    const char* name;
    Command command;
    std::string queued;
    std::string sent;
};

class CommandBytes : public ControlFixture {};

TEST_F(CommandBytes, EachCommandQueuesAndSendsItsTransmissions) {
    using control::Quenvar;
    const WireCase cases[] = {
        {"On A1", [](Quenvar& q) { q.x10on("A", "01"); }, bytes({0x06, 0x62}), bytes({0x04, 0x66})},
        {"Off a16", [](Quenvar& q) { q.x10off("a", "16"); }, bytes({0x06, 0x63}), bytes({0x04, 0x6C})},
        {"All Lights On P", [](Quenvar& q) { q.lightson("P"); }, "", bytes({0x06, 0xC1})},
        {"All Lights Off M", [](Quenvar& q) { q.Lightsoff("M"); }, "", bytes({0x06, 0x06})},
        {"All Units Off M", [](Quenvar& q) { q.alloff("M"); }, "", bytes({0x06, 0x00})},
        {"All Units Off J", [](Quenvar& q) { q.alloff("J"); }, "", bytes({0x06, 0xF0})},
        {"Dim E5 by 50", [](Quenvar& q) { q.x10dim("E", "05", 50); }, bytes({0x5E, 0x14}), bytes({0x04, 0x11})},
        {"Bright B13 by 95", [](Quenvar& q) { q.x10brighten("B", "13", 95); }, bytes({0x96, 0xE5}),
         bytes({0x04, 0xE0})},
        {"Dim A1 by 5", [](Quenvar& q) { q.x10dim("A", "01", 5); }, bytes({0x06, 0x64}), bytes({0x04, 0x66})},
        {"Dim J1 by 85", [](Quenvar& q) { q.x10dim("J", "01", 85); }, bytes({0x86, 0xF4}), bytes({0x04, 0xF6})},
        // A unit written without its leading zero, or with spaces, addresses that same unit.
        {"On A with unit 1", [](Quenvar& q) { q.x10on("A", "1"); }, bytes({0x06, 0x62}), bytes({0x04, 0x66})},
        {"On c7 typed", [](Quenvar& q) { q.x10on("c", " 7 "); }, bytes({0x06, 0x22}), bytes({0x04, 0x25})},
        {"Dim P16 written 16.0", [](Quenvar& q) { q.x10dim("P", "16.0", 50); }, bytes({0x5E, 0xC4}),
         bytes({0x04, 0xCC})},
    };
    openPort();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        control->setColstring(nullptr);
        c.command(*control);
        EXPECT_EQ(queued(), c.queued);
        EXPECT_EQ(port->takeWritten(), c.sent);
        EXPECT_EQ(control->comstatus(), control::handshake::awaitingEcho);
        EXPECT_TRUE(boxes.shown.empty());
    }
}

TEST_F(CommandBytes, TwoCommandsBeforeAnyAnswerBothGoOutAndQueueInCallOrder) {
    openPort();
    control->x10on("A", "01");
    control->x10on("B", "02");
    EXPECT_EQ(port->takeWritten(), bytes({0x04, 0x66, 0x04, 0xEE}));
    EXPECT_EQ(queued(), bytes({0x06, 0x62, 0x06, 0xE2}));
}

// A command that fails takes its function back, so it cannot fire later behind another
// command's address; what was queued before stays.
TEST_F(CommandBytes, FailingSendTakesBackOnlyItsOwnFunctionTransmission) {
    openPort();
    control->x10on("B", "02");
    port->takeWritten();
    port->writeError = RuntimeError(automation::error_number::DeviceIoError, "Device I/O error");
    EXPECT_THROW(control->x10on("A", "01"), RuntimeError);
    EXPECT_THROW(control->x10dim("C", "03", 50), RuntimeError);
    EXPECT_EQ(queued(), bytes({0x06, 0xE2}));
    EXPECT_EQ(control->comstatus(), control::handshake::awaitingEcho);

    port->writeError.reset();
    control->x10off("A", "01");
    EXPECT_EQ(port->takeWritten(), bytes({0x04, 0x66}));
    EXPECT_EQ(queued(), bytes({0x06, 0xE2, 0x06, 0x63}));
}

struct CheckCase {
    const char* name;
    bool portOpen;
    Command command;
    const char* message;  // nullptr: no box
    int errorNumber;      // 0: no error reaches the caller
};

class ArgumentChecks : public ControlFixture {};

TEST_F(ArgumentChecks, FirstFailingCheckEndsTheCommandWithNothingDone) {
    using control::Quenvar;
    const char* port = "Port must be open before you can call a command";
    const char* house = "The housecode must be between A and P";
    const char* unit = "The Unitcode must be between 1 and 16";
    const char* dim = "Dim value must between 5 and 95";
    const CheckCase cases[] = {
        {"closed port, all else wrong", false, [](Quenvar& q) { q.x10dim("Z", "x", 0); }, port, 0},
        {"closed port, good arguments", false, [](Quenvar& q) { q.x10on("A", "01"); }, port, 0},
        {"closed port, house command", false, [](Quenvar& q) { q.alloff("A"); }, port, 0},
        {"closed port, empty texts", false, [](Quenvar& q) { q.x10on("", ""); }, port, 0},
        {"empty house", true, [](Quenvar& q) { q.x10on("", ""); }, house, 0},
        {"bad house and bad unit", true, [](Quenvar& q) { q.x10off("Q", "99"); }, house, 0},
        {"bad house, unit no number", true, [](Quenvar& q) { q.x10on("AB", "xyz"); }, house, 0},
        {"house with a space", true, [](Quenvar& q) { q.lightson(" A"); }, house, 0},
        {"house-wide bad house", true, [](Quenvar& q) { q.Lightsoff("q"); }, house, 0},
        {"unit 0", true, [](Quenvar& q) { q.x10on("A", "0"); }, unit, 0},
        {"unit 17", true, [](Quenvar& q) { q.x10on("A", "17"); }, unit, 0},
        {"unit -1", true, [](Quenvar& q) { q.x10off("A", "-1"); }, unit, 0},
        {"unit and dim wrong", true, [](Quenvar& q) { q.x10dim("A", "17", 200); }, unit, 0},
        {"dim 4", true, [](Quenvar& q) { q.x10dim("A", "01", 4); }, dim, 0},
        {"dim 96", true, [](Quenvar& q) { q.x10brighten("A", "01", 96); }, dim, 0},
        {"dim 100", true, [](Quenvar& q) { q.x10dim("A", "01", 100); }, dim, 0},
        {"unit no number", true, [](Quenvar& q) { q.x10on("A", "one"); }, nullptr,
         automation::error_number::TypeMismatch},
        {"unit empty", true, [](Quenvar& q) { q.x10off("A", ""); }, nullptr, automation::error_number::TypeMismatch},
        {"unit no number, dim wrong", true, [](Quenvar& q) { q.x10dim("A", "", 0); }, nullptr,
         automation::error_number::TypeMismatch},
        {"unit beyond 16 bits", true, [](Quenvar& q) { q.x10on("A", "40000"); }, nullptr,
         automation::error_number::Overflow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        control->setColstring(nullptr);
        this->port->open = c.portOpen;
        EXPECT_EQ(errorNumberOf([&] { c.command(*control); }), c.errorNumber);
        if (c.message) {
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0], (ShownMessage{c.message, "Error"}));
        } else {
            EXPECT_TRUE(boxes.shown.empty());
        }
        EXPECT_TRUE(this->port->writes.empty());
        EXPECT_EQ(control->colstring()->count(), 0);
        EXPECT_EQ(control->comstatus(), control::handshake::idle);
        EXPECT_EQ(control->checksum(), "");
    }
}

TEST_F(ArgumentChecks, DimBoundsFiveAndNinetyFivePass) {
    openPort();
    for (std::int16_t dim : {std::int16_t{5}, std::int16_t{95}}) {
        control->x10dim("A", "01", dim);
        control->x10brighten("A", "01", dim);
    }
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(control->colstring()->count(), 8);
}

}  // namespace
}  // namespace quenvar::testing
