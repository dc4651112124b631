#include "sim/HouseModel.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace x10sim {
namespace {

using Transmission = std::pair<std::uint8_t, std::uint8_t>;

// Code bytes written out by hand from the published tables: house/unit codes
// A=6 B=E E=1 G=5 P=C, unit 1=6 2=E 3=2 16=C; functions 0 All Units Off, 1 All Lights On,
// 2 On, 3 Off, 4 Dim, 5 Bright, 6 All Lights Off, 8 Hail Request, F Status Request.
constexpr Transmission A1{0x04, 0x66};
constexpr Transmission A2{0x04, 0x6E};
constexpr Transmission A3{0x04, 0x62};
constexpr Transmission A16{0x04, 0x6C};
constexpr Transmission B1{0x04, 0xE6};
constexpr Transmission B2{0x04, 0xEE};
constexpr Transmission AOn{0x06, 0x62};
constexpr Transmission AOff{0x06, 0x63};
constexpr Transmission BOn{0x06, 0xE2};
constexpr Transmission ADim11{0x5E, 0x64};
constexpr Transmission ADim30{0xF6, 0x64};
constexpr Transmission ABright5{0x2E, 0x65};
constexpr Transmission ABright22{0xB6, 0x65};
constexpr Transmission AAllUnitsOff{0x06, 0x60};
constexpr Transmission AAllLightsOn{0x06, 0x61};
constexpr Transmission AAllLightsOff{0x06, 0x66};
constexpr Transmission AHail{0x06, 0x68};
constexpr Transmission AStatusRequest{0x06, 0x6F};
constexpr Transmission EAllLightsOn{0x06, 0x11};

std::vector<std::string> play(HouseModel& house, const std::vector<Transmission>& transmissions) {
    std::vector<std::string> texts;
    for (const auto& [header, code] : transmissions) {
        const std::uint8_t bytes[] = {header, code};
        for (const ModuleChange& change : house.apply(Frame::decode(bytes))) texts.push_back(change.text());
    }
    return texts;
}

struct SequenceCase {
    const char* name;
    std::vector<Transmission> transmissions;
    std::vector<std::string> changes;
};

void PrintTo(const SequenceCase& c, std::ostream* out) { *out << c.name; }

class Addressing : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(Addressing, FunctionsReachTheSelectedUnits) {
    HouseModel house;
    EXPECT_EQ(play(house, GetParam().transmissions), GetParam().changes);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Addressing,
    ::testing::Values(
        SequenceCase{"OneUnitOn", {A1, AOn}, {"A1 on"}},
        SequenceCase{"SeveralAddressesThenOneFunction", {A1, A2, A16, AOn}, {"A1 on", "A2 on", "A16 on"}},
        SequenceCase{"AddressAfterFunctionStartsANewSelection", {A1, AOn, A2, AOff}, {"A1 on", "A2 off"}},
        SequenceCase{"SelectionStaysForFurtherFunctions", {A1, AOn, AOff}, {"A1 on", "A1 off"}},
        SequenceCase{"RepeatedAddressCountsOnce", {A1, A1, AOn}, {"A1 on"}},
        SequenceCase{"FunctionWithoutAddressReachesNobody", {AOn}, {}},
        SequenceCase{"FunctionOfAnotherHouseReachesNobody", {A1, BOn}, {}},
        SequenceCase{"HousesKeepTheirOwnSelection", {A1, B2, AOn, BOn}, {"A1 on", "B2 on"}},
        SequenceCase{"FunctionOfAnotherHouseDoesNotEndCollecting", {A1, BOn, A2, AOn}, {"A1 on", "A2 on"}},
        SequenceCase{"RepeatedOnIsStillRecorded", {A1, AOn, AOn}, {"A1 on", "A1 on"}},
        SequenceCase{"DimFromOffStartsAtFullBrightness", {A1, ADim11}, {"A1 dim 50%"}},
        SequenceCase{"DimTwice", {A1, AOn, ADim11, ADim11}, {"A1 on", "A1 dim 50%", "A1 dim 0%"}},
        SequenceCase{"DimBeyondTheRangeStopsAtZero", {A1, AOn, ADim30}, {"A1 on", "A1 dim 0%"}},
        SequenceCase{"BrightStopsAtFull", {A1, AOn, ABright5}, {"A1 on", "A1 bright 100%"}},
        SequenceCase{"BrightFromDimmed", {A1, ADim11, ABright5}, {"A1 dim 50%", "A1 bright 73%"}},
        SequenceCase{"FullRangeDownAndUp", {A3, AOn, ADim30, ABright22}, {"A3 on", "A3 dim 0%", "A3 bright 100%"}},
        SequenceCase{"OtherFunctionsChangeNothing", {A1, AHail, AStatusRequest}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct AllUnitsCase {
    const char* name;
    std::vector<Transmission> before;
    Transmission function;
    bool onAfterwards;
    std::vector<int> changedUnits;  // of house A: the only units with a change recorded
};

void PrintTo(const AllUnitsCase& c, std::ostream* out) { *out << c.name; }

class WholeHouse : public ::testing::TestWithParam<AllUnitsCase> {};

TEST_P(WholeHouse, ReachesEveryUnitOfItsHouseOnlyAndRecordsRealChangesOnly) {
    const AllUnitsCase& c = GetParam();
    HouseModel house;
    play(house, c.before);
    const std::uint8_t bytes[] = {c.function.first, c.function.second};
    std::vector<int> changedUnits;
    for (const ModuleChange& change : house.apply(Frame::decode(bytes))) {
        EXPECT_EQ(change.house, 'A');
        EXPECT_NE(change.before, change.after) << change.text();
        changedUnits.push_back(change.unit);
    }
    EXPECT_EQ(changedUnits, c.changedUnits);
    for (int unit = 1; unit <= 16; ++unit) {
        SCOPED_TRACE(unit);
        EXPECT_EQ(house.module('A', unit).on, c.onAfterwards);
        EXPECT_EQ(house.module('A', unit).level, c.onAfterwards ? fullBrightnessSteps : 0);
    }
    EXPECT_TRUE(house.module('B', 1).on) << "house B was switched on before and is not reached";
}

INSTANTIATE_TEST_SUITE_P(
    Functions, WholeHouse,
    ::testing::Values(
        AllUnitsCase{"AllUnitsOff", {A1, A2, AOn, B1, BOn}, AAllUnitsOff, false, {1, 2}},
        AllUnitsCase{"AllLightsOff", {A1, AOn, B1, BOn}, AAllLightsOff, false, {1}},
        AllUnitsCase{"AllUnitsOffInADarkHouse", {B1, BOn}, AAllUnitsOff, false, {}},
        AllUnitsCase{
            "AllLightsOn", {B1, BOn}, AAllLightsOn, true, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
        AllUnitsCase{"AllLightsOnBringsADimmedLampToFull",
                     {A1, ADim11, A2, AOn, B1, BOn},
                     AAllLightsOn,
                     true,
                     {1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HouseModel, RecordsFramesAndChangesInOrder) {
    HouseModel house;
    play(house, {A1, AOn, EAllLightsOn, A2, AOff});
    ASSERT_EQ(house.frames().size(), 5u);
    EXPECT_EQ(house.frames()[2].text(), "E All Lights On");
    ASSERT_EQ(house.changes().size(), 1u + 16u + 1u);
    EXPECT_EQ(house.changes().front().text(), "A1 on");
    EXPECT_EQ(house.changes()[1].text(), "E1 on");
    EXPECT_EQ(house.changes()[16].text(), "E16 on");
    EXPECT_EQ(house.changes().back().text(), "A2 off");
    EXPECT_EQ(house.changes().back().before, ModuleState{});
}

TEST(HouseModel, ChangeKeepsStateBeforeAndAfter) {
    HouseModel house;
    play(house, {A1, AOn, ADim11});
    const ModuleChange& dim = house.changes().back();
    EXPECT_EQ(dim.cause, FunctionCode::Dim);
    EXPECT_EQ(dim.before, (ModuleState{true, 22}));
    EXPECT_EQ(dim.after, (ModuleState{true, 11}));
    EXPECT_EQ(house.module('a', 1), (ModuleState{true, 11})) << "house letters in either case";
}

TEST(HouseModel, SelectionFollowsAddressesAndFunctions) {
    HouseModel house;
    play(house, {A1, A16, B2});
    EXPECT_EQ(house.selection('A'), (std::vector<int>{1, 16}));
    EXPECT_EQ(house.selection('B'), (std::vector<int>{2}));
    play(house, {AOn, A2});
    EXPECT_EQ(house.selection('A'), (std::vector<int>{2}));
}

TEST(HouseModel, RejectsModulesThatDoNotExist) {
    HouseModel house;
    EXPECT_THROW(house.module('Q', 1), std::out_of_range);
    EXPECT_THROW(house.module('A', 0), std::out_of_range);
    EXPECT_THROW(house.module('A', 17), std::out_of_range);
    EXPECT_NO_THROW(house.module('P', 16));
}

TEST(ModuleState, PercentRoundsToTheNearestWholePercent) {
    const std::pair<int, int> stepsToPercent[] = {{0, 0},   {1, 5},   {2, 9},   {11, 50},
                                                  {16, 73}, {17, 77}, {21, 95}, {22, 100}};
    for (const auto& [steps, percent] : stepsToPercent)
        EXPECT_EQ((ModuleState{true, steps}.percent()), percent) << steps << " steps";
}

}  // namespace
}  // namespace x10sim
