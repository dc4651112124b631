// The shared table of late-bound calls, made through the runtime's dispatch as the Linux hosts
// make them; the Windows build runs the same rows through IDispatch::Invoke.

#include <gtest/gtest.h>

#include "tests/support/MemberCallTable.h"
#include "tests/unit/surface/SurfaceFixture.h"

namespace quenvar::testing {
namespace {

using automation::InvokeKind;
using automation::Variant;
using member_calls::Call;

class MemberCall : public SurfaceFixture, public ::testing::WithParamInterface<Call> {};

TEST_P(MemberCall, GivesTheAnswerOfTheTable) {
    const Call& row = GetParam();
    std::vector<Variant> args;
    for (const member_calls::Argument& arg : row.args) {
        args.push_back(arg.sendQueue ? control->get(control::member::colstring) : arg.value);
    }
    Variant returned;
    const std::optional<automation::RuntimeError> error =
        errorFrom([&] { returned = control->invoke(row.member, row.kind, args); });
    EXPECT_EQ(error ? error->number() : 0, row.expected.error) << (error ? error->description() : "");
    if (error) {
        EXPECT_EQ(error->argument(), row.expected.argument);
        // A conversion's error says which member it concerns.
        const automation::MemberInfo* member = control::quenvarInterface().find(row.member);
        if (row.expected.argument) {
            EXPECT_NE(error->description().find(member->name), std::string::npos);
        }
    } else {
        const bool wrote = row.kind == InvokeKind::PropertyPut || row.kind == InvokeKind::PropertyPutRef;
        const Variant value = wrote ? control->get(row.member) : returned;
        if (row.expected.value.type() == automation::VarType::Object) {
            ASSERT_EQ(value.type(), automation::VarType::Object);
            EXPECT_NE(value.toObject(), nullptr);
        } else {
            EXPECT_EQ(value, row.expected.value);
        }
    }
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_TRUE(port->writes.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, MemberCall, ::testing::ValuesIn(member_calls::memberCallTable()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quenvar::testing
