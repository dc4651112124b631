#pragma once
// One transmission as it goes out on the power line, decoded from the bytes the computer sent.
// Plain C++ (no Qt) so the protocol engine and the house model can be tested without an event loop.
//
// The simulator's code tables and checksum (Frame.cpp, InterfaceProtocol) are its own on purpose,
// written from the protocol document and never taken from the control's X10Codes: a fault copied
// into both would pass every test run against the simulator.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace x10sim {

// House letters A..P and units 1..16 share one sequence of four-bit codes.
inline constexpr std::uint8_t letterAndUnitCodes[16] = {0x6, 0xE, 0x2, 0xA, 0x1, 0x9, 0x5, 0xD,
                                                        0x7, 0xF, 0x3, 0xB, 0x0, 0x8, 0x4, 0xC};

// Steps for the full brightness range of a lamp.
inline constexpr int fullBrightnessSteps = 22;

// The four-bit code of house 'A'..'P' (either case) or of unit 1..16; nullopt outside those.
std::optional<std::uint8_t> houseCode(char house);
std::optional<std::uint8_t> unitCode(int unit);
// The house letter 'A'..'P' and unit 1..16 a four-bit code stands for (every code has one).
char houseFromCode(std::uint8_t nibble);
int unitFromCode(std::uint8_t nibble);

enum class FunctionCode : std::uint8_t {
    AllUnitsOff = 0x0,
    AllLightsOn = 0x1,
    On = 0x2,
    Off = 0x3,
    Dim = 0x4,
    Bright = 0x5,
    AllLightsOff = 0x6,
    ExtendedCode = 0x7,
    HailRequest = 0x8,
    HailAck = 0x9,
    PresetDimLow = 0xA,
    PresetDimHigh = 0xB,
    ExtendedData = 0xC,
    StatusOn = 0xD,
    StatusOff = 0xE,
    StatusRequest = 0xF,
};

// "All Units Off", "On", "Dim", ... as the power-line function is commonly named.
std::string functionName(FunctionCode function);

enum class FrameKind { Address, Function, Extended };

// Who put a frame on the power line: the interface, for the computer, or another transmitter
// sharing the line (a remote control, a wall switch, a sensor), which the interface only hears.
enum class FrameOrigin { Interface, OtherTransmitter };

struct Frame {
    std::uint8_t header = 0;
    std::uint8_t code = 0;
    // Extended transmissions only: the bytes after the code byte (unit code, data, command).
    std::vector<std::uint8_t> extendedBytes;

    FrameKind kind = FrameKind::Address;
    char house = 'A';
    int unit = 0;                                       // 1..16 for an address, 0 otherwise
    FunctionCode function = FunctionCode::AllUnitsOff;  // meaningful unless kind is Address
    int dimSteps = 0;                                   // header bits 7..3, as sent (0..31)
    FrameOrigin origin = FrameOrigin::Interface;

    // Decodes a complete transmission: two bytes (standard) or five (extended).
    // Every byte combination decodes; the caller has already checked the length.
    static Frame decode(std::span<const std::uint8_t> transmission);

    // The frames a transmitter puts on the line for an address or a function (Dim and Bright
    // by dimSteps, 0..22). House 'A'..'P' (either case) and unit 1..16; std::out_of_range else.
    static Frame forAddress(char house, int unit);
    static Frame forFunction(char house, FunctionCode function, int dimSteps = 0);

    // "A1 address", "A On", "E Dim 11 steps", "B Bright 1 step",
    // "C Extended Code 6E 10 31" (the three extended bytes in hex); a frame of another
    // transmitter ends in " (other transmitter)".
    std::string text() const;

    bool operator==(const Frame&) const = default;
};

}  // namespace x10sim
