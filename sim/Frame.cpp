#include "sim/Frame.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace x10sim {

std::optional<std::uint8_t> houseCode(char house) {
    const int upper = std::toupper(static_cast<unsigned char>(house));
    if (upper < 'A' || upper > 'P') return std::nullopt;
    return letterAndUnitCodes[upper - 'A'];
}

std::optional<std::uint8_t> unitCode(int unit) {
    if (unit < 1 || unit > 16) return std::nullopt;
    return letterAndUnitCodes[unit - 1];
}

static int indexOfCode(std::uint8_t nibble) {
    for (int i = 0; i < 16; ++i) {
        if (letterAndUnitCodes[i] == (nibble & 0x0F)) return i;
    }
    return 0;  // unreachable: the table holds all sixteen codes
}

char houseFromCode(std::uint8_t nibble) { return static_cast<char>('A' + indexOfCode(nibble)); }

int unitFromCode(std::uint8_t nibble) { return 1 + indexOfCode(nibble); }

std::string functionName(FunctionCode function) {
    switch (function) {
        case FunctionCode::AllUnitsOff: return "All Units Off";
        case FunctionCode::AllLightsOn: return "All Lights On";
        case FunctionCode::On: return "On";
        case FunctionCode::Off: return "Off";
        case FunctionCode::Dim: return "Dim";
        case FunctionCode::Bright: return "Bright";
        case FunctionCode::AllLightsOff: return "All Lights Off";
        case FunctionCode::ExtendedCode: return "Extended Code";
        case FunctionCode::HailRequest: return "Hail Request";
        case FunctionCode::HailAck: return "Hail Ack";
        case FunctionCode::PresetDimLow:
        case FunctionCode::PresetDimHigh: return "Preset Dim";
        case FunctionCode::ExtendedData: return "Extended Data";
        case FunctionCode::StatusOn: return "Status On";
        case FunctionCode::StatusOff: return "Status Off";
        case FunctionCode::StatusRequest: return "Status Request";
    }
    return "Unknown";
}

Frame Frame::decode(std::span<const std::uint8_t> transmission) {
    Frame frame;
    frame.header = transmission.size() > 0 ? transmission[0] : 0;
    frame.code = transmission.size() > 1 ? transmission[1] : 0;
    for (std::size_t i = 2; i < transmission.size(); ++i) frame.extendedBytes.push_back(transmission[i]);

    const bool isFunction = (frame.header & 0x02) != 0;
    const bool isExtended = (frame.header & 0x01) != 0;
    frame.kind = isExtended ? FrameKind::Extended : isFunction ? FrameKind::Function : FrameKind::Address;
    frame.house = houseFromCode(static_cast<std::uint8_t>(frame.code >> 4));
    frame.dimSteps = frame.header >> 3;
    if (frame.kind == FrameKind::Address)
        frame.unit = unitFromCode(frame.code & 0x0F);
    else
        frame.function = static_cast<FunctionCode>(frame.code & 0x0F);
    return frame;
}

static std::uint8_t requireHouseCode(char house) {
    const auto code = houseCode(house);
    if (!code) throw std::out_of_range(std::string("x10sim: house code must be A to P, not '") + house + "'");
    return *code;
}

Frame Frame::forAddress(char house, int unit) {
    const auto code = unitCode(unit);
    if (!code) throw std::out_of_range("x10sim: unit code must be 1 to 16, not " + std::to_string(unit));
    const std::uint8_t bytes[] = {0x04, static_cast<std::uint8_t>((requireHouseCode(house) << 4) | *code)};
    return decode(bytes);
}

Frame Frame::forFunction(char house, FunctionCode function, int dimSteps) {
    if (dimSteps < 0 || dimSteps > fullBrightnessSteps)
        throw std::out_of_range("x10sim: dim steps must be 0 to 22, not " + std::to_string(dimSteps));
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(0x06 | (dimSteps << 3)),
                                  static_cast<std::uint8_t>((requireHouseCode(house) << 4) | std::uint8_t(function))};
    return decode(bytes);
}

std::string Frame::text() const {
    std::string result(1, house);
    switch (kind) {
        case FrameKind::Address: result += std::to_string(unit) + " address"; break;
        case FrameKind::Function:
            result += " " + functionName(function);
            if (function == FunctionCode::Dim || function == FunctionCode::Bright)
                result += " " + std::to_string(dimSteps) + (dimSteps == 1 ? " step" : " steps");
            break;
        case FrameKind::Extended:
            result += " " + functionName(function);
            for (std::uint8_t byte : extendedBytes) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned>(byte));
                result += hex;
            }
            break;
    }
    if (origin == FrameOrigin::OtherTransmitter) result += " (other transmitter)";
    return result;
}

}  // namespace x10sim
