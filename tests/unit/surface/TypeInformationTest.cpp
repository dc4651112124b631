// The description hosts read: the entries of _quenvar, the event interface and the library.

#include <gtest/gtest.h>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "tests/unit/surface/SurfaceFixture.h"

namespace quenvar::testing {
namespace {

using automation::FunctionEntry;
using automation::InvokeKind;
using automation::ParamInfo;
using automation::VarType;

constexpr VarType none = VarType::Empty;
const std::vector<ParamInfo> noParams;

// The published member table, one row per type information entry.
const std::vector<FunctionEntry>& publishedEntries() {
    static const std::vector<FunctionEntry> entries{
        {0x40030000, "comstatus", InvokeKind::PropertyGet, noParams, VarType::Int16},
        {0x40030000, "comstatus", InvokeKind::PropertyPut, {{"value", VarType::Int16}}, none},
        {0x40030001, "strtotal", InvokeKind::PropertyGet, noParams, VarType::Text},
        {0x40030001, "strtotal", InvokeKind::PropertyPut, {{"value", VarType::Text}}, none},
        {0x40030002, "sendstatus", InvokeKind::PropertyGet, noParams, VarType::Bool},
        {0x40030002, "sendstatus", InvokeKind::PropertyPut, {{"value", VarType::Bool}}, none},
        {0x40030003, "colstring", InvokeKind::PropertyGet, noParams, VarType::Object},
        {0x40030003, "colstring", InvokeKind::PropertyPutRef, {{"value", VarType::Object}}, none},
        {0x40030004, "checksum", InvokeKind::PropertyGet, noParams, VarType::Text},
        {0x40030004, "checksum", InvokeKind::PropertyPut, {{"value", VarType::Text}}, none},
        {0x40030005, "countmacro", InvokeKind::PropertyGet, noParams, VarType::Int16},
        {0x40030005, "countmacro", InvokeKind::PropertyPut, {{"value", VarType::Int16}}, none},
        {0x40030006, "powerfailreply", InvokeKind::PropertyGet, noParams, VarType::Int16},
        {0x40030006, "powerfailreply", InvokeKind::PropertyPut, {{"value", VarType::Int16}}, none},
        {0x60030000, "openx10", InvokeKind::Method, {{"port", VarType::Int16}}, none},
        {0x60030001, "closex10", InvokeKind::Method, noParams, none},
        {0x60030004, "lightson", InvokeKind::Method, {{"house", VarType::Text}}, none},
        {0x60030005, "sendx10", InvokeKind::Method, {{"str1", VarType::Text}, {"str2", VarType::Text}}, none},
        {0x60030006, "Lightsoff", InvokeKind::Method, {{"house", VarType::Text}}, none},
        {0x60030007, "x10on", InvokeKind::Method, {{"house", VarType::Text}, {"unit", VarType::Text}}, none},
        {0x60030008, "x10off", InvokeKind::Method, {{"house", VarType::Text}, {"unit", VarType::Text}}, none},
        {0x60030009,
         "x10dim",
         InvokeKind::Method,
         {{"house", VarType::Text}, {"unit", VarType::Text}, {"dimvalue", VarType::Int16}},
         none},
        {0x6003000A,
         "x10brighten",
         InvokeKind::Method,
         {{"house", VarType::Text}, {"unit", VarType::Text}, {"dimvalue", VarType::Int16}},
         none},
        {0x6003000C, "alloff", InvokeKind::Method, {{"house", VarType::Text}}, none},
    };
    return entries;
}

class TypeEntry : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TypeEntry, MatchesThePublishedTable) {
    const auto entries = control::quenvarInterface().entries();
    ASSERT_EQ(entries.size(), publishedEntries().size());
    const FunctionEntry& expected = publishedEntries()[GetParam()];
    const FunctionEntry& actual = entries[GetParam()];
    EXPECT_EQ(actual.id, expected.id);
    EXPECT_EQ(actual.name, expected.name);
    EXPECT_EQ(actual.kind, expected.kind);
    EXPECT_EQ(actual.params, expected.params);
    EXPECT_EQ(actual.resultType, expected.resultType);
}

INSTANTIATE_TEST_SUITE_P(QuenvarInterface, TypeEntry, ::testing::Range<std::size_t>(0, 24));

TEST(QuenvarInterface, HasTwentyFourEntriesAndItsFlags) {
    const auto& info = control::quenvarInterface();
    EXPECT_EQ(info.entries().size(), 24u);
    EXPECT_EQ(info.name, "_quenvar");
    EXPECT_EQ(info.iid, control::identifiers::quenvarInterface);
    EXPECT_EQ(info.flags, (automation::InterfaceFlags{
                              .dual = true, .hidden = true, .nonExtensible = true, .automationCompatible = true}));
}

TEST(QuenvarInterface, NamesResolveToTheirIdsWhateverTheCase) {
    const auto& info = control::quenvarInterface();
    EXPECT_EQ(info.idOfName("Lightsoff"), 0x60030006);
    EXPECT_EQ(info.idOfName("LIGHTSON"), 0x60030004);
    EXPECT_EQ(info.idOfName("colstring"), 0x40030003);
    EXPECT_EQ(info.idOfName("PowerFailReply"), 0x40030006);
    EXPECT_FALSE(info.idOfName("gethouse").has_value());
    EXPECT_FALSE(info.idOfName("getunit").has_value());
}

TEST(QuenvarEvents, IsDispatchOnlyWithReadyAndReceived) {
    const auto& events = control::quenvarEventInterface();
    EXPECT_EQ(events.name, "__quenvar");
    EXPECT_EQ(events.iid, control::identifiers::quenvarEvents);
    EXPECT_EQ(events.flags, (automation::InterfaceFlags{.dispatchOnly = true, .hidden = true, .nonExtensible = true}));
    const std::vector<FunctionEntry> expected{
        {1, "x10ready", InvokeKind::Method, noParams, none},
        {2,
         "x10received",
         InvokeKind::Method,
         {{"house", VarType::Text}, {"units", VarType::Text}, {"command", VarType::Text}, {"level", VarType::Int16}},
         none}};
    EXPECT_EQ(events.entries(), expected);
}

TEST(QuenvarLibrary, DescribesZelvoAndItsControlClass) {
    const auto& library = control::quenvarTypeLibrary();
    EXPECT_EQ(library.library.libid, control::identifiers::library);
    EXPECT_EQ(library.library.name, "Zelvo");
    EXPECT_EQ(library.library.helpText, "Zelvo");
    EXPECT_EQ(library.library.majorVersion, 1);
    EXPECT_EQ(library.library.minorVersion, 0);
    EXPECT_EQ(library.library.lcid, 0x409u);
    EXPECT_TRUE(library.library.holdsControls);

    ASSERT_EQ(library.classes.size(), 1u);
    const auto* quenvar = library.findClass(control::identifiers::quenvarClass);
    ASSERT_NE(quenvar, nullptr);
    EXPECT_EQ(quenvar->name, "quenvar");
    EXPECT_TRUE(quenvar->isControl);
    EXPECT_FALSE(quenvar->creatable);
    EXPECT_EQ(quenvar->defaultInterface, &control::quenvarInterface());
    EXPECT_EQ(quenvar->defaultSource, &control::quenvarEventInterface());
    EXPECT_EQ(library.findInterface(control::identifiers::quenvarInterface), &control::quenvarInterface());
    EXPECT_EQ(library.findInterface(control::identifiers::quenvarEvents), &control::quenvarEventInterface());
}

TEST(QuenvarIdentifiers, AreDistinctAndSet) {
    const std::vector<automation::Guid> ids{control::identifiers::library, control::identifiers::quenvarClass,
                                            control::identifiers::quenvarInterface,
                                            control::identifiers::quenvarEvents};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_FALSE(ids[i].isNull());
        for (std::size_t j = i + 1; j < ids.size(); ++j) EXPECT_NE(ids[i], ids[j]);
    }
}

TEST_F(SurfaceFixture, TheObjectDescribesItself) {
    EXPECT_EQ(&control->interfaceInfo(), &control::quenvarInterface());
    EXPECT_EQ(control->classInfo().clsid, control::identifiers::quenvarClass);
    EXPECT_EQ(&control->typeLibrary(), &control::quenvarTypeLibrary());
}

}  // namespace
}  // namespace quenvar::testing
