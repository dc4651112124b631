#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

#include "platform/automation/Conversions.h"
#include "platform/automation/RuntimeError.h"
#include "tests/support/RuntimeErrors.h"

namespace qa = quenvar::automation;
namespace en = quenvar::automation::error_number;
using quenvar::testing::errorNumberOf;

namespace {

struct TextToNumberCase {
    std::string text;
    std::int32_t expected;
};

void PrintTo(const TextToNumberCase& row, std::ostream* out) { *out << '"' << row.text << '"'; }

class TextToInt16Accepts : public testing::TestWithParam<TextToNumberCase> {};

TEST_P(TextToInt16Accepts, GivesTheNumber) {
    const auto& [text, expected] = GetParam();
    EXPECT_EQ(qa::textToInt16(text, "."), expected) << '"' << text << '"';
    EXPECT_EQ(qa::textToInt32(text, "."), expected) << '"' << text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    UnitTextsAndNotations, TextToInt16Accepts,
    testing::Values(TextToNumberCase{"01", 1}, TextToNumberCase{"02", 2}, TextToNumberCase{"09", 9},
                    TextToNumberCase{"10", 10}, TextToNumberCase{"13", 13}, TextToNumberCase{"16", 16},
                    TextToNumberCase{"0", 0}, TextToNumberCase{"17", 17}, TextToNumberCase{"1", 1},
                    TextToNumberCase{"-1", -1}, TextToNumberCase{"+7", 7}, TextToNumberCase{"  5  ", 5},
                    TextToNumberCase{"\t12\t", 12}, TextToNumberCase{" -3", -3}, TextToNumberCase{"007", 7},
                    TextToNumberCase{"2.5", 2}, TextToNumberCase{"3.5", 4}, TextToNumberCase{"-2.5", -2},
                    TextToNumberCase{"-3.5", -4}, TextToNumberCase{"0.5", 0}, TextToNumberCase{"1.5", 2},
                    TextToNumberCase{"2.51", 3}, TextToNumberCase{"2.500001", 3}, TextToNumberCase{"2.4999", 2},
                    TextToNumberCase{"2.5000", 2}, TextToNumberCase{"5.", 5}, TextToNumberCase{".5", 0},
                    TextToNumberCase{".6", 1}, TextToNumberCase{"-.6", -1}, TextToNumberCase{"-0", 0},
                    TextToNumberCase{"32767", 32767}, TextToNumberCase{"-32768", -32768},
                    TextToNumberCase{"32766.5", 32766}, TextToNumberCase{"-32768.5", -32768},
                    TextToNumberCase{"000000000000000000000000016", 16}));

class NotANumber : public testing::TestWithParam<std::string> {};

TEST_P(NotANumber, RaisesTypeMismatch) {
    const std::string& text = GetParam();
    EXPECT_EQ(errorNumberOf([&] { qa::textToInt16(text, "."); }), en::TypeMismatch) << '"' << text << '"';
    EXPECT_EQ(errorNumberOf([&] { qa::textToInt32(text, "."); }), en::TypeMismatch) << '"' << text << '"';
    EXPECT_EQ(errorNumberOf([&] { qa::textIsNonzeroNumber(text); }), en::TypeMismatch) << '"' << text << '"';
}

INSTANTIATE_TEST_SUITE_P(LettersAndFragments, NotANumber,
                         testing::Values("", "  ", "\t", "A", "abc", "1x", "x1", "+", "-", ".", "+.", " . ", "--1",
                                         "+-1", "- 1", "1 2", "1.2.3", "1e1", "&H10", "0x10", "1,000", "1.5x",
                                         "12345678901234567890x"));

struct OverflowCase {
    std::string text;
    bool overflowsInt32;
};

void PrintTo(const OverflowCase& row, std::ostream* out) { *out << '"' << row.text << '"'; }

class TooLarge : public testing::TestWithParam<OverflowCase> {};

TEST_P(TooLarge, RaisesOverflow) {
    const auto& [text, overflowsInt32] = GetParam();
    EXPECT_EQ(errorNumberOf([&] { qa::textToInt16(text, "."); }), en::Overflow) << '"' << text << '"';
    EXPECT_EQ(errorNumberOf([&] { qa::textToInt32(text, "."); }), overflowsInt32 ? en::Overflow : 0)
        << '"' << text << '"';
}

INSTANTIATE_TEST_SUITE_P(OutsideTheRange, TooLarge,
                         testing::Values(OverflowCase{"40000", false}, OverflowCase{"32768", false},
                                         OverflowCase{"-32769", false}, OverflowCase{"32767.5", false},
                                         OverflowCase{"-32768.51", false}, OverflowCase{"2147483648", true},
                                         OverflowCase{"-2147483649", true}, OverflowCase{"2147483647.5", true},
                                         OverflowCase{"99999999999999999999999", true}));

TEST(TextToInt32, CoversTheFullRange) {
    EXPECT_EQ(qa::textToInt32("2147483647", "."), 2147483647);
    EXPECT_EQ(qa::textToInt32("-2147483648", "."), -2147483647 - 1);
    EXPECT_EQ(qa::textToInt32("40000", "."), 40000);
    EXPECT_EQ(qa::textToInt32("2147483646.5", "."), 2147483646);
}

TEST(DecimalSeparator, CommaSeparatorReadsFractionsAndRejectsThePoint) {
    EXPECT_EQ(qa::textToInt16("2,5", ","), 2);
    EXPECT_EQ(qa::textToInt16("3,5", ","), 4);
    EXPECT_EQ(qa::textToInt16("-2,5", ","), -2);
    EXPECT_EQ(errorNumberOf([] { qa::textToInt16("2.5", ","); }), en::TypeMismatch);
    EXPECT_EQ(errorNumberOf([] { qa::textToInt16("2,5", "."); }), en::TypeMismatch);
}

// Restores the numeric locale whatever the test does.
class NumericLocale {
public:
    NumericLocale() : saved_(std::setlocale(LC_NUMERIC, nullptr)) {}
    ~NumericLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
    bool switchTo(const char* name) { return std::setlocale(LC_NUMERIC, name) != nullptr; }

private:
    std::string saved_;
};

TEST(DecimalSeparator, FollowsTheCurrentCLocale) {
    NumericLocale locale;
    ASSERT_TRUE(locale.switchTo("C"));
    EXPECT_EQ(qa::textToInt16("3.5"), 4);
    EXPECT_EQ(errorNumberOf([] { qa::textToInt16("3,5"); }), en::TypeMismatch);

    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8", "de_DE"}) {
        if (locale.switchTo(name)) {
            switched = true;
            break;
        }
    }
    if (!switched) GTEST_SKIP() << "no locale with a decimal comma is installed (see `locale -a`)";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(qa::textToInt16("3,5"), 4);
    EXPECT_EQ(qa::textToInt32("-2,5"), -2);
    EXPECT_EQ(errorNumberOf([] { qa::textToInt16("3.5"); }), en::TypeMismatch);
}

TEST(CharCode, GivesTheByteOfTheFirstCharacter) {
    EXPECT_EQ(qa::charCode("A"), 65);
    EXPECT_EQ(qa::charCode("AB"), 65);
    EXPECT_EQ(qa::charCode(std::string(1, '\0')), 0);
    EXPECT_EQ(qa::charCode("\x6A"), 0x6A);
    EXPECT_EQ(qa::charCode("\xE0"), 0xE0);  // high codes are not negative
    EXPECT_EQ(qa::charCode("\xFF"), 255);
    EXPECT_EQ(errorNumberOf([] { qa::charCode(""); }), en::InvalidProcedureCall);
}

TEST(CharText, RoundTripsEveryByteAndRejectsOthers) {
    for (int code = 0; code <= 255; ++code) {
        const std::string text = qa::charText(code);
        ASSERT_EQ(text.size(), 1u) << code;
        ASSERT_EQ(qa::charCode(text), code);
    }
    EXPECT_EQ(errorNumberOf([] { qa::charText(256); }), en::InvalidProcedureCall);
    EXPECT_EQ(errorNumberOf([] { qa::charText(-1); }), en::InvalidProcedureCall);
}

TEST(RuntimeErrorText, CarriesNumberAndDescription) {
    try {
        qa::textToInt16("abc");
        FAIL() << "no error raised";
    } catch (const qa::RuntimeError& error) {
        EXPECT_EQ(error.number(), en::TypeMismatch);
        EXPECT_EQ(error.description(), "Type mismatch");
    }
}

}  // namespace
