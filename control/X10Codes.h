#pragma once
// The X10 code tables: four-bit codes for house letters and unit numbers, the function codes,
// the transmission headers and the dim header. Pure data and arithmetic, no I/O.

#include <array>
#include <cstdint>
#include <string_view>

namespace quenvar::control::x10 {

// House nibble: the X10 house code already shifted into the high half of the code byte.
struct HouseCode {
    std::string_view upper;
    std::string_view lower;
    std::int16_t nibble;
};

// clang-format off
inline constexpr std::array<HouseCode, 16> houseCodes{{
    {"A", "a", 0x60}, {"B", "b", 0xE0}, {"C", "c", 0x20}, {"D", "d", 0xA0},
    {"E", "e", 0x10}, {"F", "f", 0x90}, {"G", "g", 0x50}, {"H", "h", 0xD0},
    {"I", "i", 0x70}, {"J", "j", 0xF0}, {"K", "k", 0x30}, {"L", "l", 0xB0},
    {"M", "m", 0x00}, {"N", "n", 0x80}, {"O", "o", 0x40}, {"P", "p", 0xC0},
}};
// clang-format on

// Unit nibble: the four-bit unit code of an address transmission's code byte.
struct UnitCode {
    std::string_view text;
    std::int16_t nibble;
};

// clang-format off
inline constexpr std::array<UnitCode, 16> unitCodes{{
    {"01", 6}, {"02", 14}, {"03", 2}, {"04", 10}, {"05", 1}, {"06", 9}, {"07", 5}, {"08", 13},
    {"09", 7}, {"10", 15}, {"11", 3}, {"12", 11}, {"13", 0}, {"14", 8}, {"15", 4}, {"16", 12},
}};
// clang-format on

// Low nibble of a function transmission's code byte.
enum class Function : std::int16_t {
    AllUnitsOff = 0,
    AllLightsOn = 1,
    On = 2,
    Off = 3,
    Dim = 4,
    Bright = 5,
    AllLightsOff = 6,
};

// Function codes the control never sends but may hear from other transmitters.
inline constexpr std::uint8_t extendedCode = 0x7;
inline constexpr std::uint8_t hailRequest = 0x8;
inline constexpr std::uint8_t hailAck = 0x9;

inline constexpr std::int16_t addressHeader = 0x04;
inline constexpr std::int16_t functionHeader = 0x06;

// Bytes of the interface's own side of the wire.
inline constexpr int acknowledgeByte = 0x00;
inline constexpr int readyByte = 0x55;
inline constexpr int powerFailRequest = 0xA5;
inline constexpr int macroDownloadHeader = 0xFB;
inline constexpr int macroDownloadLength = 42;
// The interface polls with 0x5A when it has heard other transmitters; 0xC3 answers it, and the
// upload follows: a size byte (1 to 9: the mask and up to eight data bytes), then those bytes.
inline constexpr int uploadPoll = 0x5A;
inline constexpr int pollAnswer = 0xC3;
inline constexpr int largestUploadSize = 9;
// The other answer to a power-fail request, which the interfaces that keep a clock want: 0x9B and
// six data bytes; the interface echoes the sum of the six.
inline constexpr int clockSettingHeader = 0x9B;
inline constexpr int clockSettingLength = 6;

// A moment of the host's local time, as the clock setting carries it.
struct LocalTime {
    int second = 0;   // 0..59 (a leap second counts as 59)
    int minute = 0;   // 0..59
    int hour = 0;     // 0..23
    int yearDay = 0;  // 0..365, 0 being 1 January
    int weekday = 0;  // 0 Sunday .. 6 Saturday
};

// The six data bytes of a clock setting for `time`, with `monitored` as the monitored house and
// no flags: seconds; minutes of the two-hour span (0..119); hours / 2; the day of the year's low
// eight bits; its ninth bit as bit 7 with the weekday as one bit of 0..6 (bit 0 Sunday); the
// monitored house's code in the high nibble.
std::array<std::uint8_t, clockSettingLength> clockSettingData(const LocalTime& time, const HouseCode& monitored);

// One transmission to the interface: a header byte (address, function, or for Dim and Bright
// the dim amount) and a code byte (house nibble plus unit or function). Before the interface
// puts it on the power line it echoes the checksum, which the computer must acknowledge.
struct Transmission {
    std::uint8_t header = 0;
    std::uint8_t code = 0;

    // The low byte of header + code: the echo that belongs to this transmission.
    constexpr std::uint8_t checksum() const { return static_cast<std::uint8_t>((header + code) & 0xFF); }

    // Selects a unit of a house; a function transmission for the house follows.
    static constexpr Transmission address(const HouseCode& house, const UnitCode& unit) {
        return {addressHeader, static_cast<std::uint8_t>(house.nibble + unit.nibble)};
    }
    // A function for the house (its selected units, or all of them for the All functions).
    // `header` is functionHeader, or dimHeader() for Dim and Bright.
    static constexpr Transmission function(const HouseCode& house, Function function,
                                           std::int16_t header = functionHeader) {
        return {static_cast<std::uint8_t>(header),
                static_cast<std::uint8_t>(house.nibble + static_cast<std::int16_t>(function))};
    }

    friend constexpr bool operator==(const Transmission&, const Transmission&) = default;
};

// Function header for Dim and Bright, for a dim value already checked to lie in 5..95.
// Peers on the wire rely on this exact mapping: values ending in 5 carry one dim step fewer
// than the multiple of ten below them (5 -> 0x06, 10 -> 0x1E, 15 -> 0x16).
std::int16_t dimHeader(std::int16_t dimvalue);

}  // namespace quenvar::control::x10
