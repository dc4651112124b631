// The upload decoder against the documented upload format: mask, then addresses and functions,
// with a level byte after Dim and Bright and two bytes after an extended code.

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "control/UploadDecoder.h"

namespace quenvar::control {

void PrintTo(const HeardFunction& f, std::ostream* out) {
    *out << '(' << f.house << ", \"" << f.units << "\", " << f.command << ", " << f.level << ')';
}

namespace {

using Bytes = std::vector<std::uint8_t>;

struct UploadCase {
    const char* name;
    std::vector<Bytes> uploads;  // mask and data bytes of each upload, in the order they came
    std::vector<HeardFunction> heard;
};

void PrintTo(const UploadCase& c, std::ostream* out) { *out << c.name; }

class UploadDecoding : public ::testing::TestWithParam<UploadCase> {};

TEST_P(UploadDecoding, TellsEachFunctionWithItsHouseUnitsAndLevel) {
    HouseSelections selections;
    std::vector<HeardFunction> heard;
    for (const Bytes& upload : GetParam().uploads) {
        const auto decoded = decodeUpload(upload, selections);
        heard.insert(heard.end(), decoded.begin(), decoded.end());
    }
    EXPECT_EQ(heard, GetParam().heard);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Uploads, UploadDecoding, ::testing::Values(
    UploadCase{"AddressThenOn", {{0b10, 0x66, 0x62}}, {{"A", "01", "On", 0}}},
    UploadCase{"TwoUnitsThenOff", {{0b100, 0x66, 0x62, 0x63}}, {{"A", "01,03", "Off", 0}}},
    UploadCase{"UnitsListedInOrderOnce", {{0b1000, 0x6C, 0x66, 0x6C, 0x62}}, {{"A", "01,16", "On", 0}}},
    UploadCase{"WholeHouseFunctionsNameNoUnits",
               {{0b110, 0x66, 0x61, 0x60}}, {{"A", "", "All Lights On", 0}, {"A", "", "All Units Off", 0}}},
    UploadCase{"DimBringsItsLevelInPercent", {{0b10, 0x66, 0x64, 105}}, {{"A", "01", "Dim", 50}}},
    UploadCase{"BrightOverTheFullRange", {{0b1, 0x15, 210}}, {{"E", "", "Bright", 100}}},
    UploadCase{"SeveralHouses",
               {{0b11010, 0xEE, 0xE2, 0xCC, 0xC3, 0x06}},
               {{"B", "02", "On", 0}, {"P", "16", "Off", 0}, {"M", "", "All Lights Off", 0}}},
    UploadCase{"HousesInterleaved", {{0b1100, 0x66, 0xEE, 0x62, 0xE3}}, {{"A", "01", "On", 0}, {"B", "02", "Off", 0}}},
    UploadCase{"AnAddressAfterAFunctionStartsAfresh",
               {{0b1010, 0x66, 0x62, 0x6E, 0x63}}, {{"A", "01", "On", 0}, {"A", "02", "Off", 0}}},
    UploadCase{"ASelectionStaysForFurtherFunctions",
               {{0b1010, 0x66, 0x64, 22, 0x64, 44}}, {{"A", "01", "Dim", 10}, {"A", "01", "Dim", 21}}},
    UploadCase{"ExtendedCodeSkipsItsDataAndCommand",
               {{0b10010, 0x6E, 0x67, 0x62, 0x31, 0x63}}, {{"A", "02", "Extended Code", 0}, {"A", "02", "Off", 0}}},
    UploadCase{"OtherFunctionsByName",
               {{0b111110, 0x66, 0x6F, 0x68, 0x69, 0x6A, 0x6D}},
               {{"A", "01", "Status Request", 0}, {"A", "", "Hail Request", 0}, {"A", "", "Hail Ack", 0},
                {"A", "01", "Preset Dim", 0}, {"A", "01", "Status On", 0}}},
    UploadCase{"TheLongestBuffer",
               {{0b10000000, 0x66, 0x6E, 0x62, 0x6A, 0x61, 0x69, 0x65, 0x62}},
               {{"A", "01,02,03,04,05,06,07", "On", 0}}},
    UploadCase{"AddressAndFunctionInTwoUploads", {{0b0, 0x66}, {0b1, 0x62}}, {{"A", "01", "On", 0}}},
    UploadCase{"ADimWithoutItsLevelAtTheEnd", {{0b10, 0x66, 0x64}}, {{"A", "01", "Dim", 0}}},
    UploadCase{"NothingHeard", {{0x00}, {}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace quenvar::control
