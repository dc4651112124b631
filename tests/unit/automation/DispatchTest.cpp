#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/automation/Collection.h"
#include "platform/automation/Dispatch.h"
#include "tests/support/RuntimeErrors.h"

namespace qa = quenvar::automation;
namespace en = quenvar::automation::error_number;
using qa::InvokeKind;
using qa::MemberId;
using qa::Variant;
using qa::VarType;
using quenvar::testing::errorFrom;
using quenvar::testing::errorNumberOf;
using quenvar::testing::errorOf;

namespace {

namespace id {
constexpr MemberId level = 0x40030000;
constexpr MemberId label = 0x40030001;
constexpr MemberId enabled = 0x40030002;
constexpr MemberId queue = 0x40030003;
constexpr MemberId open = 0x60030000;
constexpr MemberId send = 0x60030001;
constexpr MemberId dim = 0x60030002;
constexpr MemberId fail = 0x60030003;
constexpr MemberId crash = 0x60030004;
constexpr MemberId total = 0x60030005;
constexpr MemberId gap = 0x60030006;
}  // namespace id

// A small object with one member of every kind; it records what its members ran.
class Panel : public qa::Dispatchable {
public:
    std::int16_t level = 0;
    std::string label;
    bool enabled = false;
    qa::CollectionRef queue;
    std::vector<std::string> ran;

    static const qa::DispatchTable<Panel>& table();
    const qa::InterfaceInfo& interfaceInfo() const override { return table().info(); }
    Variant invoke(MemberId member, InvokeKind kind, std::span<Variant> args) override {
        return table().invoke(*this, member, kind, args);
    }
};

const qa::DispatchTable<Panel>& Panel::table() {
    using B = qa::MemberBinding<Panel>;
    static const qa::DispatchTable<Panel> table(
        qa::Guid::parse("{11111111-2222-3333-4444-555555555555}"), "_Panel",
        qa::InterfaceFlags{.dual = true, .hidden = true},
        {
            B::property(
                id::level, "level", VarType::Int16, [](Panel& p) { return Variant::fromInt16(p.level); },
                [](Panel& p, const Variant& v) { p.level = v.toInt16(); }),
            B::property(
                id::label, "label", VarType::Text, [](Panel& p) { return Variant::fromText(p.label); },
                [](Panel& p, const Variant& v) { p.label = v.toText(); }),
            B::property(
                id::enabled, "enabled", VarType::Bool, [](Panel& p) { return Variant::fromBool(p.enabled); },
                [](Panel& p, const Variant& v) { p.enabled = v.toBool(); }),
            B::objectProperty(
                id::queue, "queue", [](Panel& p) { return Variant::fromObject(p.queue); },
                [](Panel& p, const Variant& v) { p.queue = qa::objectAs<qa::Collection>(v.toObject()); }),
            B::method(id::open, "open", {{"port", VarType::Int16}},
                      [](Panel& p, std::span<Variant> a) {
                          ASSERT_EQ(a[0].type(), VarType::Int16);
                          p.ran.push_back("open " + a[0].toText());
                      }),
            B::method(id::send, "send", {{"house", VarType::Text}, {"unit", VarType::Text}},
                      [](Panel& p, std::span<Variant> a) {
                          ASSERT_EQ(a[0].type(), VarType::Text);
                          ASSERT_EQ(a[1].type(), VarType::Text);
                          p.ran.push_back("send " + a[0].toText() + " " + a[1].toText());
                      }),
            B::method(id::dim, "dim", {{"house", VarType::Text}, {"unit", VarType::Text}, {"dimvalue", VarType::Int16}},
                      [](Panel& p, std::span<Variant> a) {
                          p.ran.push_back("dim " + a[0].toText() + " " + a[1].toText() + " " + a[2].toText());
                      }),
            B::method(id::fail, "fail", {},
                      [](Panel& p, std::span<Variant>) {
                          p.ran.push_back("fail");
                          throw qa::RuntimeError(en::DeviceIoError, "Device I/O error on CommPort 1");
                      }),
            B::method(id::crash, "crash", {},
                      [](Panel&, std::span<Variant>) -> void { throw std::out_of_range("index 7 of 3"); }),
            B::function(
                id::total, "total", {{"a", VarType::Int32}, {"b", VarType::Int32}}, VarType::Int32,
                [](Panel&, std::span<Variant> a) { return Variant::fromInt32(a[0].toInt32() + a[1].toInt32()); }),
        });
    return table;
}

Variant invokeWith(Panel& panel, MemberId member, InvokeKind kind, std::vector<Variant> args) {
    return panel.invoke(member, kind, args);
}

struct RejectedCall {
    const char* what;
    MemberId member;
    InvokeKind kind;
    std::vector<Variant> args;
    std::int32_t error;
};

void PrintTo(const RejectedCall& row, std::ostream* out) { *out << row.what; }

class DispatchRejects : public testing::TestWithParam<RejectedCall> {};

TEST_P(DispatchRejects, WithTheDispatchErrorAndRunsNothing) {
    const RejectedCall& row = GetParam();
    Panel panel;
    panel.level = 3;
    panel.label = "kept";
    const auto raised = errorOf([&] { invokeWith(panel, row.member, row.kind, row.args); });
    EXPECT_EQ(raised.number, row.error) << raised.description;
    EXPECT_FALSE(raised.description.empty());
    EXPECT_TRUE(panel.ran.empty());
    EXPECT_EQ(panel.level, 3);
    EXPECT_EQ(panel.label, "kept");
    EXPECT_FALSE(panel.enabled);
    EXPECT_EQ(panel.queue, nullptr);
}

Variant text(const char* t) { return Variant::fromText(t); }
Variant i16(std::int16_t v) { return Variant::fromInt16(v); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    BadCalls, DispatchRejects,
    testing::Values(
        RejectedCall{"unknown id", 0x12345, InvokeKind::Method, {}, en::MemberNotFound},
        RejectedCall{"id in a gap of the table", id::gap, InvokeKind::Method, {}, en::MemberNotFound},
        RejectedCall{"id zero without a default member", 0, InvokeKind::PropertyGet, {}, en::MemberNotFound},
        RejectedCall{"put on a method", id::open, InvokeKind::PropertyPut, {i16(1)}, en::MemberNotFound},
        RejectedCall{"get on a method", id::open, InvokeKind::PropertyGet, {}, en::MemberNotFound},
        RejectedCall{"putref on a plain property", id::level, InvokeKind::PropertyPutRef, {Variant::nullObject()},
                     en::MemberNotFound},
        RejectedCall{"put on an object property", id::queue, InvokeKind::PropertyPut, {i16(1)}, en::MemberNotFound},
        RejectedCall{"property called as method", id::level, InvokeKind::Method, {}, en::MemberNotFound},
        RejectedCall{"too few arguments", id::send, InvokeKind::Method, {text("A")}, en::BadParameterCount},
        RejectedCall{"too many arguments", id::open, InvokeKind::Method, {i16(1), i16(2)}, en::BadParameterCount},
        RejectedCall{"arguments for none", id::fail, InvokeKind::Method, {i16(1)}, en::BadParameterCount},
        RejectedCall{"put without a value", id::level, InvokeKind::PropertyPut, {}, en::BadParameterCount},
        RejectedCall{"get with an argument", id::label, InvokeKind::PropertyGet, {i16(1)}, en::BadParameterCount},
        RejectedCall{"letters for an integer", id::open, InvokeKind::Method, {text("one")}, en::TypeMismatch},
        RejectedCall{"empty text for an integer", id::open, InvokeKind::Method, {text("")}, en::TypeMismatch},
        RejectedCall{"integer out of range", id::open, InvokeKind::Method, {Variant::fromInt32(40000)},
                     en::Overflow},
        RejectedCall{"last argument bad", id::dim, InvokeKind::Method, {text("A"), text("01"), text("x")},
                     en::TypeMismatch},
        RejectedCall{"object for a text", id::send, InvokeKind::Method, {Variant::nullObject(), text("01")},
                     en::TypeMismatch},
        RejectedCall{"letters put into an integer", id::level, InvokeKind::PropertyPut, {text("x")},
                     en::TypeMismatch},
        RejectedCall{"overflow put into an integer", id::level, InvokeKind::PropertyPut, {text("32768")},
                     en::Overflow},
        RejectedCall{"letters put into a Boolean", id::enabled, InvokeKind::PropertyPut, {text("yes")},
                     en::TypeMismatch},
        RejectedCall{"number put by reference", id::queue, InvokeKind::PropertyPutRef, {i16(1)},
                     en::TypeMismatch},
        RejectedCall{"empty put by reference", id::queue, InvokeKind::PropertyPutRef, {Variant()},
                     en::TypeMismatch},
        RejectedCall{"object of the wrong class by reference", id::queue, InvokeKind::PropertyPutRef,
                     {Variant::fromObject(std::make_shared<Panel>())}, en::TypeMismatch}));
// clang-format on

TEST(Dispatch, ArgumentErrorNamesTheParameterTheMemberAndTheReason) {
    Panel panel;
    const auto mismatch = errorOf([&] {
        invokeWith(panel, id::dim, InvokeKind::Method, {text("A"), text("01"), text("lots")});
    });
    EXPECT_EQ(mismatch.description,
              "Type mismatch in argument 'dimvalue' of dim: the text \"lots\" cannot be converted to a 16-bit integer");
    const auto overflow =
        errorOf([&] { invokeWith(panel, id::open, InvokeKind::Method, {Variant::fromInt32(40000)}); });
    EXPECT_EQ(overflow.description,
              "Overflow in argument 'port' of open: the number 40000 is outside the range of a 16-bit integer");
    const auto unknown = errorOf([&] { invokeWith(panel, id::gap, InvokeKind::Method, {}); });
    EXPECT_EQ(unknown.description, "Member not found: _Panel has no member with id 0x60030006");
    const auto count = errorOf([&] { invokeWith(panel, id::send, InvokeKind::Method, {text("A")}); });
    EXPECT_EQ(count.description, "Wrong number of arguments: _Panel.send takes 2 and was given 1");
}

TEST(Dispatch, AConversionErrorNamesTheArgumentsPositionAndOtherErrorsNone) {
    struct Case {
        const char* name;
        MemberId member;
        InvokeKind kind;
        std::vector<Variant> args;
        std::optional<std::size_t> argument;
    };
    const Case cases[] = {
        {"first of three", id::dim, InvokeKind::Method, {Variant::nullObject(), text("01"), i16(5)}, 0},
        {"last of three", id::dim, InvokeKind::Method, {text("A"), text("01"), text("lots")}, 2},
        {"value of a write", id::level, InvokeKind::PropertyPut, {text("x")}, 0},
        {"number written by reference", id::queue, InvokeKind::PropertyPutRef, {i16(1)}, 0},
        {"wrong count", id::send, InvokeKind::Method, {text("A")}, std::nullopt},
        {"no such member", id::gap, InvokeKind::Method, {text("x")}, std::nullopt},
        {"raised by the member", id::fail, InvokeKind::Method, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        Panel panel;
        const auto error = errorFrom([&] { invokeWith(panel, c.member, c.kind, c.args); });
        ASSERT_TRUE(error.has_value()) << c.name;
        EXPECT_EQ(error->argument(), c.argument) << c.name;
    }
}

TEST(Dispatch, ConvertsArgumentsToTheDeclaredTypesBeforeTheMemberRuns) {
    Panel panel;
    invokeWith(panel, id::send, InvokeKind::Method, {i16(7), Variant::fromInt32(12)});
    invokeWith(panel, id::open, InvokeKind::Method, {text(" 2 ")});
    invokeWith(panel, id::open, InvokeKind::Method, {Variant::fromBool(true)});
    invokeWith(panel, id::dim, InvokeKind::Method, {text("a"), text("01"), text("47.5")});
    EXPECT_EQ(panel.ran, (std::vector<std::string>{"send 7 12", "open 2", "open -1", "dim a 01 48"}));
}

TEST(Dispatch, NeverWritesArgumentsBack) {
    Panel panel;
    std::vector<Variant> args{i16(7), Variant::fromInt32(12)};
    const std::vector<Variant> before = args;
    panel.invoke(id::send, InvokeKind::Method, args);
    EXPECT_EQ(args, before);
}

TEST(Dispatch, MethodResultsAndPropertyValuesComeBack) {
    Panel panel;
    EXPECT_EQ(invokeWith(panel, id::total, InvokeKind::Method, {text("40000"), i16(2)}), Variant::fromInt32(40002));
    EXPECT_TRUE(invokeWith(panel, id::open, InvokeKind::Method, {i16(1)}).isEmpty());
    panel.put(id::level, text("99"));
    EXPECT_EQ(panel.level, 99);
    EXPECT_EQ(panel.get(id::level), i16(99));
    panel.put(id::label, i16(-5));
    EXPECT_EQ(panel.get(id::label), text("-5"));
}

struct BoolPut {
    Variant value;
    bool stored;
};

class BooleanProperty : public testing::TestWithParam<BoolPut> {};

TEST_P(BooleanProperty, StoresTrueForAnyNonzeroValue) {
    Panel panel;
    panel.enabled = !GetParam().stored;
    panel.put(id::enabled, GetParam().value);
    EXPECT_EQ(panel.enabled, GetParam().stored);
    EXPECT_EQ(panel.get(id::enabled).toInt16(), GetParam().stored ? -1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Values, BooleanProperty,
                         testing::Values(BoolPut{i16(1), true}, BoolPut{i16(-1), true}, BoolPut{i16(2), true},
                                         BoolPut{Variant::fromInt32(65536), true}, BoolPut{i16(0), false},
                                         BoolPut{text("True"), true}, BoolPut{text("false"), false},
                                         BoolPut{text("3"), true}, BoolPut{text("0"), false},
                                         BoolPut{Variant(), false}));

TEST(Dispatch, ObjectPropertyTakesAnObjectOrTheNullReference) {
    Panel panel;
    auto queue = std::make_shared<qa::Collection>();
    panel.putRef(id::queue, Variant::fromObject(queue));
    EXPECT_EQ(panel.queue, queue);
    EXPECT_EQ(panel.get(id::queue).toObject(), queue);
    panel.putRef(id::queue, Variant::nullObject());
    EXPECT_EQ(panel.queue, nullptr);
    EXPECT_EQ(panel.get(id::queue), Variant::nullObject());
}

TEST(Dispatch, ErrorsOfTheMemberPassThroughAndWhatRanStaysDone) {
    Panel panel;
    const auto raised = errorOf([&] { panel.call(id::fail); });
    EXPECT_EQ(raised.number, en::DeviceIoError);
    EXPECT_EQ(raised.description, "Device I/O error on CommPort 1");
    EXPECT_EQ(panel.ran, std::vector<std::string>{"fail"});

    const auto unexpected = errorOf([&] { panel.call(id::crash); });
    EXPECT_EQ(unexpected.number, en::UnexpectedFailure);
    EXPECT_EQ(unexpected.description, "crash failed: index 7 of 3");
}

TEST(InterfaceInfo, FindsMembersByIdAndByNameInAnyCase) {
    const qa::InterfaceInfo& info = Panel::table().info();
    EXPECT_EQ(info.idOfName("dim"), id::dim);
    EXPECT_EQ(info.idOfName("DIM"), id::dim);
    EXPECT_EQ(info.idOfName("Label"), id::label);
    EXPECT_EQ(info.idOfName("dimm"), std::nullopt);
    EXPECT_EQ(info.idOfName(""), std::nullopt);
    Panel panel;
    EXPECT_EQ(panel.idOfName("TOTAL"), id::total);
    ASSERT_NE(info.find(id::send), nullptr);
    EXPECT_EQ(info.find(id::send)->name, "send");
    EXPECT_EQ(info.find(id::gap), nullptr);
    EXPECT_EQ(info.name, "_Panel");
    EXPECT_TRUE(info.flags.dual);
    EXPECT_TRUE(info.flags.hidden);
    EXPECT_FALSE(info.flags.dispatchOnly);
}

TEST(InterfaceInfo, EntriesListEachAccessorInMemberOrder) {
    using E = qa::FunctionEntry;
    const std::vector<E> expected{
        E{id::level, "level", InvokeKind::PropertyGet, {}, VarType::Int16},
        E{id::level, "level", InvokeKind::PropertyPut, {{"value", VarType::Int16}}, VarType::Empty},
        E{id::label, "label", InvokeKind::PropertyGet, {}, VarType::Text},
        E{id::label, "label", InvokeKind::PropertyPut, {{"value", VarType::Text}}, VarType::Empty},
        E{id::enabled, "enabled", InvokeKind::PropertyGet, {}, VarType::Bool},
        E{id::enabled, "enabled", InvokeKind::PropertyPut, {{"value", VarType::Bool}}, VarType::Empty},
        E{id::queue, "queue", InvokeKind::PropertyGet, {}, VarType::Object},
        E{id::queue, "queue", InvokeKind::PropertyPutRef, {{"value", VarType::Object}}, VarType::Empty},
        E{id::open, "open", InvokeKind::Method, {{"port", VarType::Int16}}, VarType::Empty},
        E{id::send, "send", InvokeKind::Method, {{"house", VarType::Text}, {"unit", VarType::Text}}, VarType::Empty},
        E{id::dim,
          "dim",
          InvokeKind::Method,
          {{"house", VarType::Text}, {"unit", VarType::Text}, {"dimvalue", VarType::Int16}},
          VarType::Empty},
        E{id::fail, "fail", InvokeKind::Method, {}, VarType::Empty},
        E{id::crash, "crash", InvokeKind::Method, {}, VarType::Empty},
        E{id::total, "total", InvokeKind::Method, {{"a", VarType::Int32}, {"b", VarType::Int32}}, VarType::Int32},
    };
    EXPECT_EQ(Panel::table().info().entries(), expected);
}

TEST(DispatchTable, RefusesTablesThatCannotDispatchWhatTheyDescribe) {
    using B = qa::MemberBinding<Panel>;
    const qa::Guid iid{};
    auto noop = [](Panel&, std::span<Variant>) {};
    EXPECT_THROW(qa::DispatchTable<Panel>(iid, "dup", {}, {B::method(1, "a", {}, noop), B::method(1, "b", {}, noop)}),
                 std::logic_error);
    B getOnly = B::property(
        2, "p", VarType::Int16, [](Panel&) { return Variant(); }, nullptr);
    EXPECT_THROW(qa::DispatchTable<Panel>(iid, "missing put", {}, {getOnly}), std::logic_error);
    B noBody = B::function(3, "f", {}, VarType::Empty, nullptr);
    EXPECT_THROW(qa::DispatchTable<Panel>(iid, "missing body", {}, {noBody}), std::logic_error);
    EXPECT_NO_THROW(qa::DispatchTable<Panel>(iid, "fine", {}, {B::method(1, "a", {}, noop)}));
}

TEST(CollectionDispatch, AnswersItsMembersByIdAndName) {
    namespace cm = qa::collection_member;
    auto collection = std::make_shared<qa::Collection>();
    qa::Dispatchable& object = *collection;
    object.call(cm::Add, {text("\x06")});
    object.call(cm::Add, {i16(98)});
    EXPECT_EQ(object.get(cm::Count), Variant::fromInt32(2));
    EXPECT_EQ(object.call(cm::Item, {text("2")}), i16(98));  // the item as it was added
    EXPECT_EQ(object.call(cm::Item, {i16(1)}), text("\x06"));
    object.call(cm::Remove, {i16(1)});
    EXPECT_EQ(collection->count(), 1);
    EXPECT_EQ(collection->item(1), i16(98));
    EXPECT_EQ(errorNumberOf([&] { object.call(cm::Item, {i16(2)}); }), en::SubscriptOutOfRange);
    EXPECT_EQ(errorNumberOf([&] { object.call(cm::Remove, {i16(0)}); }), en::SubscriptOutOfRange);
    EXPECT_EQ(errorNumberOf([&] { object.put(cm::Count, i16(5)); }), en::MemberNotFound);
    EXPECT_EQ(errorNumberOf([&] { object.call(cm::Item, {text("first")}); }), en::TypeMismatch);
    EXPECT_EQ(object.idOfName("count"), cm::Count);
    EXPECT_EQ(object.idOfName("ITEM"), cm::Item);
    EXPECT_EQ(object.interfaceInfo().entries().size(), 4u);
}

TEST(Guid, ReadsAndWritesTheBracedForm) {
    const auto guid = qa::Guid::parse("{0a1b2c3d-4E5F-6789-ABcd-ef0123456789}");
    EXPECT_EQ(guid.bytes[0], 0x0A);
    EXPECT_EQ(guid.bytes[3], 0x3D);
    EXPECT_EQ(guid.bytes[15], 0x89);
    EXPECT_EQ(guid.toString(), "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}");
    EXPECT_EQ(qa::Guid::parse(guid.toString()), guid);
    EXPECT_TRUE(qa::Guid{}.isNull());
    EXPECT_FALSE(guid.isNull());
    EXPECT_LT(qa::Guid::parse("{00000000-0000-0000-0000-000000000001}"),
              qa::Guid::parse("{00000000-0000-0000-0000-000000000002}"));
    static_assert(qa::Guid::parse("{00000000-0000-0000-0000-0000000000FF}").bytes[15] == 0xFF);
}

class GuidRejects : public testing::TestWithParam<const char*> {};

TEST_P(GuidRejects, TextsNotInTheBracedForm) { EXPECT_THROW(qa::Guid::parse(GetParam()), std::invalid_argument); }

INSTANTIATE_TEST_SUITE_P(
    BadTexts, GuidRejects,
    testing::Values("", "{}", "0A1B2C3D-4E5F-6789-ABCD-EF0123456789", "{0A1B2C3D-4E5F-6789-ABCD-EF012345678}",
                    "{0A1B2C3D-4E5F-6789-ABCD-EF01234567890}", "{0A1B2C3D 4E5F-6789-ABCD-EF0123456789}",
                    "{0A1B2C3G-4E5F-6789-ABCD-EF0123456789}", "(0A1B2C3D-4E5F-6789-ABCD-EF0123456789)"));

}  // namespace
