// x10sim as another driver of the interface meets it: the x10sim program on its pty, driven byte
// by byte from the interface's documented behaviour alone (no code of the simulator or of the
// control is used here). Each row starts the program with its options, plays its steps and then
// reads what the program printed.

#include <QByteArray>
#include <QStringList>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/ComputerSide.h"
#include "tests/support/RunningProgram.h"

namespace {

using quenvar::testing::ComputerSide;

// One step: a line typed at the console (with --commands), bytes the driver sends, and the bytes
// it then expects back. Bytes are written in hex, "9B 29"; in the reply "." stands for any digit.
struct Step {
    const char* console = nullptr;
    const char* send = "";
    const char* reply = "";
};

Step typed(const char* line) { return Step{line, "", ""}; }
Step exchange(const char* send, const char* reply) { return Step{nullptr, send, reply}; }
Step awaiting(const char* reply) { return Step{nullptr, "", reply}; }

struct DriverRow {
    const char* name;
    QStringList options;
    std::vector<Step> steps;
    // The lines after the device path, in full; further lines are not read.
    QStringList printed;
};

void PrintTo(const DriverRow& row, std::ostream* out) { *out << row.name; }

QByteArray fromHex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

// One byte of a reply's pattern: the bits that must match and their value.
struct ExpectedByte {
    int mask = 0xFF;
    int value = 0;
};

std::vector<ExpectedByte> pattern(const char* text) {
    std::vector<ExpectedByte> bytes;
    for (const QByteArray& pair : QByteArray(text).split(' ')) {
        if (pair.size() != 2) continue;
        ExpectedByte byte;
        for (int digit = 0; digit < 2; ++digit) {
            const int shift = digit == 0 ? 4 : 0;
            if (pair.at(digit) == '.')
                byte.mask &= ~(0xF << shift);
            else
                byte.value |= QByteArray::fromHex(QByteArray(1, '0') + pair.at(digit)).at(0) << shift;
        }
        bytes.push_back(byte);
    }
    return bytes;
}

bool matches(const QByteArray& got, const std::vector<ExpectedByte>& expected) {
    if (got.size() != static_cast<qsizetype>(expected.size())) return false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if ((got.at(static_cast<qsizetype>(i)) & expected[i].mask) != expected[i].value) return false;
    }
    return true;
}

// Clock setting for 22:33:41 on Tuesday, day 341 of the year (0-based 0x155: bit 8 goes into
// bit 7 of the weekday byte), monitored house A, no flags; its echo is the sum of the six.
constexpr const char* setClockTuesday = "9B 29 21 0B 55 84 60";
constexpr const char* clockTuesdayEcho = "8E";
// The empty macro download: 0xFB and 42 bytes 0x00.
const std::string macroDownload = "FB" + std::string(2 * 42, '0');
// A memory block: 0xFB, address 0x0010, data 01 .. 10; echo 0x10 + 0x88 = 0x98.
constexpr const char* memoryBlock = "FB 00 10 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10";

const std::vector<DriverRow> rows = {
    {"StatusReadsTheClockBackAsSet",
     {"--quiet"},
     {exchange(setClockTuesday, clockTuesdayEcho), exchange("00", "55"),
      // Battery timer 0xFFFF after a cold start, seconds (any: time goes on), minutes 33 of the
      // two-hour span, hours / 2, the day, bit 8 of the day with Tuesday, house A high and the
      // firmware revision low, no unit of A addressed, on or dimmed.
      exchange("8B", "FF FF .. 21 0B 55 84 6. 00 00 00 00 00 00")},
     {}},
    {"StatusTellsTheMonitoredHouseSetByTheClock",
     {"--quiet"},
     {exchange("04 C6", "CA"), exchange("00", "55"), exchange("06 C2", "C8"), exchange("00", "55"),
      // 00:00:00 on Saturday, day 300 (0x12C), house P (code C) monitored, battery timer cleared.
      exchange("9B 00 00 00 2C C0 C2", "AE"), exchange("00", "55"),
      // P1 (code 6: bit 6) addressed and on, not dimmed.
      exchange("8B", "00 00 .. 00 00 2C C0 C. 40 00 40 00 00 00")},
     {}},
    {"RingSignalRequestsAreEchoedAsThemselves",
     {},
     {exchange("EB", "EB"), exchange("00", "55"), exchange("DB", "DB"), exchange("00", "55"), exchange("04 66", "6A"),
      exchange("00", "55")},
     {"frame: A1 address"}},
    {"MemoryBlockIsEchoedWithItsSumAndNothingGoesOnTheLine",
     {},
     {exchange(memoryBlock, "98"), exchange("00", "55"), exchange("04 66", "6A"), exchange("00", "55")},
     {"frame: A1 address"}},
    {"MacroDownloadAnswersAPowerFailureAndMemoryBlocksFollow",
     {"--power-fail", "--wire"},
     {awaiting("A5"), exchange(macroDownload.c_str(), "00"), exchange("00", "55"), exchange(memoryBlock, "98"),
      exchange("00", "55")},
     // The device path comes first (checked for every row), then the first request.
     {"out: A5"}},
    {"ClockSettingAnswersAPowerFailureToo",
     {"--power-fail"},
     {awaiting("A5"), exchange(setClockTuesday, clockTuesdayEcho), exchange("00", "55"), exchange("04 66", "6A"),
      exchange("00", "55")},
     {"frame: A1 address"}},
    {"ClockInterfaceIsReadyAfterItsClockIsSet",
     {"--power-fail", "--clock-interface"},
     {awaiting("A5"), exchange(setClockTuesday, clockTuesdayEcho), exchange("00", "55"), exchange("04 66", "6A"),
      exchange("00", "55"), exchange("06 62", "68"), exchange("00", "55")},
     {"frame: A1 address", "frame: A On", "A1 on"}},
    // The interface that wants its clock and a driver that answers with the macro download: the
    // interface goes on requesting for ever. Two more requests show it; the row stops there.
    {"ClockInterfaceStaysStuckOnTheMacroDownload",
     {"--clock-interface", "--commands", "--quiet"},
     {typed("power-fail"), awaiting("A5"), exchange(macroDownload.c_str(), "A5"), exchange("04 66", "A5")},
     {"power failure: requesting 0xA5 once a second until a clock setting answers"}},
    // News waits: the transmission is neither taken nor echoed, and no poll answers it at once
    // (the status request sent right after it is answered first); the next poll comes in its
    // rhythm, and after the upload the transmission goes through.
    {"TransmissionWhileNewsWaitsIsLeftToThePollsRhythm",
     {"--commands", "--quiet"},
     {typed("remote A1 on"), awaiting("5A"), exchange("04 6E", ""),
      exchange("8B", "FF FF .. .. .. .. .. .. .. .. .. .. .. .."), awaiting("5A"), exchange("C3", "03 02 66 62"),
      exchange("04 6E", "72"), exchange("00", "55")},
     {"another transmitter sends: A1 address, A On"}},
    {"AllUnitsOffTellsOnlyTheUnitsItSwitchedOff",
     {},
     {exchange("04 66", "6A"), exchange("00", "55"), exchange("04 6E", "72"), exchange("00", "55"),
      exchange("06 62", "68"), exchange("00", "55"), exchange("06 60", "66"), exchange("00", "55"),
      exchange("04 E6", "EA"), exchange("00", "55")},
     {"frame: A1 address", "frame: A2 address", "frame: A On", "A1 on", "A2 on", "frame: A All Units Off", "A1 off",
      "A2 off", "frame: B1 address"}},
    {"AllLightsOffTellsOnlyTheUnitsItSwitchedOff",
     {},
     {exchange("04 62", "66"), exchange("00", "55"), exchange("06 62", "68"), exchange("00", "55"),
      exchange("06 66", "6C"), exchange("00", "55"), exchange("06 66", "6C"), exchange("00", "55"),
      exchange("04 E6", "EA"), exchange("00", "55")},
     {"frame: A3 address", "frame: A On", "A3 on", "frame: A All Lights Off", "A3 off", "frame: A All Lights Off",
      "frame: B1 address"}},
};

class AnotherDriver : public ::testing::TestWithParam<DriverRow> {};

TEST_P(AnotherDriver, GetsTheAnswersTheInterfaceGives) {
    const DriverRow& row = GetParam();
    quenvar::testing::RunningProgram program(QStringLiteral(X10SIM_PROGRAM), row.options);
    const QString device = program.nextLine();
    ASSERT_TRUE(device.startsWith("/dev/pts/"))
        << "first line: " << device.toStdString() << program.process().readAllStandardError().toStdString();
    ComputerSide driver(device);
    ASSERT_TRUE(driver.isOpen()) << driver.openError().toStdString();

    for (std::size_t i = 0; i < row.steps.size(); ++i) {
        const Step& step = row.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1) + ": " + (step.console ? step.console : step.send));
        if (step.console) program.process().write(QByteArray(step.console) + '\n');
        ASSERT_TRUE(driver.write(fromHex(step.send)));
        const std::vector<ExpectedByte> expected = pattern(step.reply);
        const QByteArray got = driver.read(static_cast<int>(expected.size()));
        ASSERT_TRUE(matches(got, expected)) << "expected " << step.reply << ", got " << got.toHex(' ').toStdString();
    }
    QStringList printed;
    while (printed.size() < row.printed.size()) {
        const QString line = program.nextLine();
        if (line.isEmpty()) break;
        printed << line;
    }
    EXPECT_EQ(printed, row.printed);
}

INSTANTIATE_TEST_SUITE_P(Protocol, AnotherDriver, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<DriverRow>& info) { return std::string(info.param.name); });

}  // namespace
