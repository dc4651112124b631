#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/automation/RuntimeError.h"
#include "platform/automation/Variant.h"
#include "tests/support/RuntimeErrors.h"

namespace qa = quenvar::automation;
namespace en = quenvar::automation::error_number;
using qa::Variant;
using qa::VarType;
using quenvar::testing::errorNumberOf;

namespace {

TEST(Variant, KnowsItsType) {
    EXPECT_EQ(Variant().type(), VarType::Empty);
    EXPECT_TRUE(Variant().isEmpty());
    EXPECT_EQ(Variant::fromInt16(1).type(), VarType::Int16);
    EXPECT_EQ(Variant::fromInt32(1).type(), VarType::Int32);
    EXPECT_EQ(Variant::fromBool(false).type(), VarType::Bool);
    EXPECT_EQ(Variant::fromText("").type(), VarType::Text);
    EXPECT_EQ(Variant::nullObject().type(), VarType::Object);
    EXPECT_FALSE(Variant::fromText("").isEmpty());
    EXPECT_FALSE(Variant::fromInt16(0).isEmpty());
}

TEST(Variant, EqualityComparesTypeAndValue) {
    EXPECT_EQ(Variant::fromInt16(5), Variant::fromInt16(5));
    EXPECT_NE(Variant::fromInt16(5), Variant::fromInt16(6));
    EXPECT_NE(Variant::fromInt16(5), Variant::fromInt32(5));
    EXPECT_NE(Variant::fromBool(true), Variant::fromInt16(-1));
    EXPECT_EQ(Variant::fromText("a"), Variant::fromText("a"));
    EXPECT_NE(Variant(), Variant::fromText(""));
    EXPECT_EQ(Variant::nullObject(), Variant::fromObject(nullptr));
}

// One row per source value: what each conversion gives, or the error it raises.
struct ConversionRow {
    const char* name;
    Variant value;
    std::optional<std::int16_t> asInt16;  // nullopt: raises errorInt16
    std::int32_t errorInt16;
    std::optional<std::int32_t> asInt32;
    std::int32_t errorInt32;
    std::optional<bool> asBool;
    std::int32_t errorBool;
    std::optional<std::string> asText;
    std::int32_t errorText;
};

void PrintTo(const ConversionRow& row, std::ostream* out) { *out << row.name; }

constexpr std::int32_t none = 0;

const ConversionRow conversionRows[] = {
    {"empty", Variant(), 0, none, 0, none, false, none, "", none},
    {"int16 zero", Variant::fromInt16(0), 0, none, 0, none, false, none, "0", none},
    {"int16 negative", Variant::fromInt16(-32768), -32768, none, -32768, none, true, none, "-32768", none},
    {"int16 positive", Variant::fromInt16(16), 16, none, 16, none, true, none, "16", none},
    {"int32 fits", Variant::fromInt32(-32768), -32768, none, -32768, none, true, none, "-32768", none},
    {"int32 too large", Variant::fromInt32(40000), std::nullopt, en::Overflow, 40000, none, true, none, "40000", none},
    {"int32 too small", Variant::fromInt32(-32769), std::nullopt, en::Overflow, -32769, none, true, none, "-32769",
     none},
    {"bool true", Variant::fromBool(true), -1, none, -1, none, true, none, "True", none},
    {"bool false", Variant::fromBool(false), 0, none, 0, none, false, none, "False", none},
    {"unit text", Variant::fromText("01"), 1, none, 1, none, true, none, "01", none},
    {"zero text", Variant::fromText("0"), 0, none, 0, none, false, none, "0", none},
    {"fraction text", Variant::fromText("0.4"), 0, none, 0, none, true, none, "0.4", none},
    {"big text", Variant::fromText("40000"), std::nullopt, en::Overflow, 40000, none, true, none, "40000", none},
    {"letters", Variant::fromText("A"), std::nullopt, en::TypeMismatch, std::nullopt, en::TypeMismatch, std::nullopt,
     en::TypeMismatch, "A", none},
    {"empty text", Variant::fromText(""), std::nullopt, en::TypeMismatch, std::nullopt, en::TypeMismatch, std::nullopt,
     en::TypeMismatch, "", none},
    {"True text", Variant::fromText("True"), std::nullopt, en::TypeMismatch, std::nullopt, en::TypeMismatch, true, none,
     "True", none},
    {"false any case", Variant::fromText("fALSE"), std::nullopt, en::TypeMismatch, std::nullopt, en::TypeMismatch,
     false, none, "fALSE", none},
    {"null object", Variant::nullObject(), std::nullopt, en::TypeMismatch, std::nullopt, en::TypeMismatch, std::nullopt,
     en::TypeMismatch, std::nullopt, en::TypeMismatch},
};

class VariantConversion : public testing::TestWithParam<ConversionRow> {};

template <typename T, typename Convert>
void expectConversion(const char* what, const std::optional<T>& expected, std::int32_t expectedError, Convert convert) {
    if (expected) {
        std::optional<T> actual;
        EXPECT_EQ(errorNumberOf([&] { actual = convert(); }), none) << what;
        EXPECT_EQ(actual, expected) << what;
    } else {
        EXPECT_EQ(errorNumberOf(convert), expectedError) << what;
    }
}

TEST_P(VariantConversion, FollowsTheLanguageRules) {
    const ConversionRow& row = GetParam();
    expectConversion<std::int16_t>("toInt16", row.asInt16, row.errorInt16, [&] { return row.value.toInt16(); });
    expectConversion<std::int32_t>("toInt32", row.asInt32, row.errorInt32, [&] { return row.value.toInt32(); });
    expectConversion<bool>("toBool", row.asBool, row.errorBool, [&] { return row.value.toBool(); });
    expectConversion<std::string>("toText", row.asText, row.errorText, [&] { return row.value.toText(); });
}

INSTANTIATE_TEST_SUITE_P(EveryKindOfValue, VariantConversion, testing::ValuesIn(conversionRows),
                         [](const testing::TestParamInfo<ConversionRow>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

TEST(VariantToObject, OnlyAnObjectConverts) {
    EXPECT_EQ(Variant::nullObject().toObject(), nullptr);
    for (const Variant& value :
         {Variant(), Variant::fromInt16(1), Variant::fromInt32(1), Variant::fromBool(true), Variant::fromText("x")}) {
        EXPECT_EQ(errorNumberOf([&] { value.toObject(); }), en::TypeMismatch);
    }
}

TEST(VariantText, KeepsEveryByte) {
    std::string allBytes;
    for (int code = 0; code <= 255; ++code) allBytes.push_back(static_cast<char>(code));
    EXPECT_EQ(Variant::fromText(allBytes).toText(), allBytes);
}

}  // namespace
