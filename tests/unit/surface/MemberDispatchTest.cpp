// Calls by member id reach the right member with their arguments converted; ids that belong to
// no member run nothing.

#include <gtest/gtest.h>

#include "control/Quenvar.h"
#include "tests/unit/surface/SurfaceFixture.h"

namespace quenvar::testing {
namespace {

using automation::MemberId;
using automation::Variant;
namespace member = control::member;
namespace error_number = automation::error_number;

struct CommandRow {
    const char* name;
    MemberId id;
    std::vector<Variant> args;
    std::string written;  // bytes on the line after the call
    std::string queued;   // the send queue after the call
};

class MemberDispatch : public SurfaceFixture, public ::testing::WithParamInterface<CommandRow> {};

TEST_P(MemberDispatch, RunsTheMemberWithItsArguments) {
    const CommandRow& row = GetParam();
    control->core().openx10(1);
    call(row.id, row.args);
    EXPECT_EQ(port->takeWritten(), row.written);
    EXPECT_EQ(queued(), row.queued);
    EXPECT_TRUE(boxes->shown.empty()) << boxes->shown.front().prompt;
}

// House A has nibble 0x60, B 0xE0; unit 01 nibble 6, 02 nibble 14. Dim value 10 has the dim
// header 0x1E.
INSTANTIATE_TEST_SUITE_P(
    EveryCommand, MemberDispatch,
    ::testing::Values(
        CommandRow{"lightson", member::lightson, {text("B")}, bytes({0x06, 0xE1}), ""},
        CommandRow{"Lightsoff", member::Lightsoff, {text("B")}, bytes({0x06, 0xE6}), ""},
        CommandRow{"alloff", member::alloff, {text("b")}, bytes({0x06, 0xE0}), ""},
        CommandRow{"sendx10", member::sendx10, {text(bytes({0x04})), text(bytes({0x66}))}, bytes({0x04, 0x66}), ""},
        CommandRow{"x10on", member::x10on, {text("A"), text("01")}, bytes({0x04, 0x66}), bytes({0x06, 0x62})},
        CommandRow{"x10off", member::x10off, {text("A"), text("02")}, bytes({0x04, 0x6E}), bytes({0x06, 0x63})},
        CommandRow{
            "x10dim", member::x10dim, {text("A"), text("01"), int16(10)}, bytes({0x04, 0x66}), bytes({0x1E, 0x64})},
        CommandRow{"x10brighten",
                   member::x10brighten,
                   {text("A"), text("01"), text("10")},
                   bytes({0x04, 0x66}),
                   bytes({0x1E, 0x65})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfaceFixture, OpenAndCloseReachTheSerialComponent) {
    call(member::openx10, {text("3")});
    EXPECT_EQ(port->port, 3);
    EXPECT_TRUE(port->open);
    call(member::closex10);
    EXPECT_FALSE(port->open);
}

TEST_F(SurfaceFixture, NumbersPassedAsHouseOrUnitArriveAsText) {
    control->core().openx10(1);

    // 7 becomes the text "7", which is no house letter.
    call(member::lightson, {int16(7)});
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0], (ShownMessage{control::message::badHouse, control::message::errorTitle}));

    // 17 becomes "17": a number, but not a unit.
    call(member::x10on, {text("A"), int32(17)});
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(boxes->shown[1].prompt, control::message::badUnit);
    EXPECT_EQ(port->takeWritten(), "");

    // 5 becomes "5": a unit number that passes the check.
    call(member::x10off, {text("A"), int16(5)});
    EXPECT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(port->takeWritten().substr(0, 1), bytes({0x04}));
}

struct BadArgumentRow {
    const char* name;
    MemberId id;
    std::vector<Variant> args;
    std::int32_t error;  // the conversion's own: type mismatch or overflow
};

class UnconvertibleArgument : public SurfaceFixture, public ::testing::WithParamInterface<BadArgumentRow> {};

TEST_P(UnconvertibleArgument, FailsTheCallBeforeTheMemberRuns) {
    const BadArgumentRow& row = GetParam();
    port->port = 0;
    port->open = true;  // open, so a member that ran would write or show something
    EXPECT_EQ(errorNumberOf([&] { call(row.id, row.args); }), row.error);
    EXPECT_EQ(port->port, 0);
    EXPECT_TRUE(port->writes.empty());
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_EQ(queued(), "");
}

INSTANTIATE_TEST_SUITE_P(
    PortAndDimValue, UnconvertibleArgument,
    ::testing::Values(
        BadArgumentRow{"portNoNumber", member::openx10, {text("COM1")}, error_number::TypeMismatch},
        BadArgumentRow{"portTooLarge", member::openx10, {int32(40000)}, error_number::Overflow},
        BadArgumentRow{"portObject", member::openx10, {Variant::nullObject()}, error_number::TypeMismatch},
        BadArgumentRow{
            "dimNoNumber", member::x10dim, {text("A"), text("01"), text("half")}, error_number::TypeMismatch},
        BadArgumentRow{"dimTooSmall", member::x10dim, {text("A"), text("01"), int32(-32769)}, error_number::Overflow},
        BadArgumentRow{
            "brightNoNumber", member::x10brighten, {text("A"), text("01"), text("")}, error_number::TypeMismatch},
        BadArgumentRow{
            "brightTooLarge", member::x10brighten, {text("A"), text("01"), text("99999")}, error_number::Overflow}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfaceFixture, IdsOfNoMemberFailAndRunNothing) {
    port->open = true;
    // The positions of the private procedures, the default member, one past the last method and
    // one past the last field.
    for (MemberId id : {0x60030002, 0x60030003, 0x6003000B, 0, 0x6003000D, 0x40030007, -1}) {
        for (auto kind : {automation::InvokeKind::Method, automation::InvokeKind::PropertyGet}) {
            std::vector<Variant> args = kind == automation::InvokeKind::Method
                                            ? std::vector<Variant>{text("A"), text("01")}
                                            : std::vector<Variant>{};
            EXPECT_EQ(errorNumberOf([&] { control->invoke(id, kind, args); }), error_number::MemberNotFound)
                << std::hex << id;
        }
    }
    EXPECT_TRUE(port->writes.empty());
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_EQ(queued(), "");
}

TEST_F(SurfaceFixture, FieldsAnswerOnlyTheirOwnKindsOfAccess) {
    auto queue = std::make_shared<automation::Collection>();
    // colstring is written by reference only; plain fields never by reference; methods are no
    // properties.
    EXPECT_EQ(errorNumberOf([&] { control->put(member::colstring, Variant::fromObject(queue)); }),
              error_number::MemberNotFound);
    EXPECT_EQ(errorNumberOf([&] { control->putRef(member::comstatus, Variant::fromObject(queue)); }),
              error_number::MemberNotFound);
    EXPECT_EQ(errorNumberOf([&] { control->get(member::x10on); }), error_number::MemberNotFound);
    EXPECT_EQ(errorNumberOf([&] { control->call(member::comstatus); }), error_number::MemberNotFound);
    EXPECT_NE(control->core().colstring(), queue);
}

TEST_F(SurfaceFixture, ErrorsInsideAMemberReachTheCallerWithTheirNumber) {
    port->open = true;
    // A unit that is no number is a run-time error of the member itself, not a checked value.
    EXPECT_EQ(errorNumberOf([&] { call(member::x10on, {text("A"), text("one")}); }), error_number::TypeMismatch);
    // sendx10 with an empty text has no character code to take.
    EXPECT_EQ(errorNumberOf([&] { call(member::sendx10, {text(""), text("x")}); }), error_number::InvalidProcedureCall);
    port->openError = automation::RuntimeError(error_number::DeviceUnavailable, "Device unavailable");
    EXPECT_EQ(errorNumberOf([&] { call(member::openx10, {int16(2)}); }), error_number::DeviceUnavailable);
    EXPECT_TRUE(port->writes.empty());
}

}  // namespace
}  // namespace quenvar::testing
