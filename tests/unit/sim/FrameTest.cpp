#include "sim/Frame.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <vector>

namespace x10sim {
namespace {

// The published four-bit codes, A..P and 1..16 in order.
constexpr std::array<std::uint8_t, 16> publishedCodes = {0x6, 0xE, 0x2, 0xA, 0x1, 0x9, 0x5, 0xD,
                                                         0x7, 0xF, 0x3, 0xB, 0x0, 0x8, 0x4, 0xC};

TEST(LetterAndUnitCodes, MatchThePublishedSequenceBothWays) {
    for (int i = 0; i < 16; ++i) {
        const char house = static_cast<char>('A' + i);
        SCOPED_TRACE(house);
        EXPECT_EQ(houseCode(house), publishedCodes[i]);
        EXPECT_EQ(houseCode(static_cast<char>('a' + i)), publishedCodes[i]);
        EXPECT_EQ(unitCode(i + 1), publishedCodes[i]);
        EXPECT_EQ(houseFromCode(publishedCodes[i]), house);
        EXPECT_EQ(unitFromCode(publishedCodes[i]), i + 1);
    }
}

TEST(LetterAndUnitCodes, HaveNoCodeOutsideTheirRange) {
    for (char house : {'Q', 'Z', '@', '1', ' '}) EXPECT_FALSE(houseCode(house).has_value()) << house;
    for (int unit : {0, 17, -1, 256}) EXPECT_FALSE(unitCode(unit).has_value()) << unit;
}

struct DecodeCase {
    std::vector<std::uint8_t> bytes;
    FrameKind kind;
    char house;
    int unit;
    FunctionCode function;
    int dimSteps;
    const char* text;
};

void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.text; }

class FrameDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(FrameDecoding, DecodesHeaderAndCode) {
    const DecodeCase& expected = GetParam();
    const Frame frame = Frame::decode(expected.bytes);
    EXPECT_EQ(frame.header, expected.bytes[0]);
    EXPECT_EQ(frame.code, expected.bytes[1]);
    EXPECT_EQ(frame.kind, expected.kind);
    EXPECT_EQ(frame.house, expected.house);
    EXPECT_EQ(frame.unit, expected.unit);
    if (expected.kind != FrameKind::Address) {
        EXPECT_EQ(frame.function, expected.function);
    }
    EXPECT_EQ(frame.dimSteps, expected.dimSteps);
    EXPECT_EQ(frame.text(), expected.text);
}

INSTANTIATE_TEST_SUITE_P(
    Transmissions, FrameDecoding,
    ::testing::Values(
        DecodeCase{{0x04, 0x66}, FrameKind::Address, 'A', 1, {}, 0, "A1 address"},
        DecodeCase{{0x04, 0xCC}, FrameKind::Address, 'P', 16, {}, 0, "P16 address"},
        DecodeCase{{0x04, 0x56}, FrameKind::Address, 'G', 1, {}, 0, "G1 address"},
        DecodeCase{{0x06, 0x62}, FrameKind::Function, 'A', 0, FunctionCode::On, 0, "A On"},
        DecodeCase{{0x06, 0x63}, FrameKind::Function, 'A', 0, FunctionCode::Off, 0, "A Off"},
        DecodeCase{{0x06, 0x00}, FrameKind::Function, 'M', 0, FunctionCode::AllUnitsOff, 0, "M All Units Off"},
        DecodeCase{{0x06, 0x11}, FrameKind::Function, 'E', 0, FunctionCode::AllLightsOn, 0, "E All Lights On"},
        DecodeCase{{0x06, 0xC6}, FrameKind::Function, 'P', 0, FunctionCode::AllLightsOff, 0, "P All Lights Off"},
        DecodeCase{{0x5E, 0x14}, FrameKind::Function, 'E', 0, FunctionCode::Dim, 11, "E Dim 11 steps"},
        DecodeCase{{0x0E, 0xE5}, FrameKind::Function, 'B', 0, FunctionCode::Bright, 1, "B Bright 1 step"},
        DecodeCase{{0x86, 0xF4}, FrameKind::Function, 'J', 0, FunctionCode::Dim, 16, "J Dim 16 steps"},
        DecodeCase{{0x06, 0x6F}, FrameKind::Function, 'A', 0, FunctionCode::StatusRequest, 0, "A Status Request"},
        DecodeCase{{0x07, 0x67, 0x6E, 0x10, 0x31},
                   FrameKind::Extended,
                   'A',
                   0,
                   FunctionCode::ExtendedCode,
                   0,
                   "A Extended Code 6E 10 31"}));

}  // namespace
}  // namespace x10sim
