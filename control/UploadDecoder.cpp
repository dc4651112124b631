#include "control/UploadDecoder.h"

#include "control/X10Codes.h"

namespace quenvar::control {

namespace {

constexpr int levelFullRange = 210;

std::string houseLetter(std::uint8_t houseCode) {
    for (const auto& row : x10::houseCodes) {
        if (row.nibble == houseCode << 4) {
            return std::string(row.upper);
        }
    }
    return {};  // unreachable: the table holds all sixteen codes
}

std::string unitList(const std::bitset<16>& selected) {
    std::string text;
    for (const auto& row : x10::unitCodes) {  // in unit order, 01 to 16
        if (selected.test(static_cast<std::size_t>(row.nibble))) {
            text += (text.empty() ? "" : ",") + std::string(row.text);
        }
    }
    return text;
}

bool actsOnAWholeHouse(std::uint8_t function) {
    switch (static_cast<x10::Function>(function)) {
        case x10::Function::AllUnitsOff:
        case x10::Function::AllLightsOn:
        case x10::Function::AllLightsOff: return true;
        default: return function == x10::hailRequest || function == x10::hailAck;
    }
}

}  // namespace

std::string functionName(std::uint8_t functionCode) {
    static const char* const names[16] = {
        "All Units Off", "All Lights On",  "On",       "Off",        "Dim",        "Bright",        "All Lights Off",
        "Extended Code", "Hail Request",   "Hail Ack", "Preset Dim", "Preset Dim", "Extended Data", "Status On",
        "Status Off",    "Status Request",
    };
    return names[functionCode & 0x0F];
}

std::vector<HeardFunction> decodeUpload(std::span<const std::uint8_t> maskAndData, HouseSelections& selections) {
    std::vector<HeardFunction> heard;
    if (maskAndData.empty()) {
        return heard;
    }
    const std::uint8_t mask = maskAndData[0];
    const std::span<const std::uint8_t> data = maskAndData.subspan(1);
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto house = static_cast<std::uint8_t>(data[i] >> 4);
        const auto low = static_cast<std::uint8_t>(data[i] & 0x0F);
        const bool isFunction = i < 8 && (mask >> i) & 1;
        if (!isFunction) {
            if (selections.functionSinceAddress[house]) {
                selections.units[house].reset();
                selections.functionSinceAddress[house] = false;
            }
            selections.units[house].set(low);
            continue;
        }
        selections.functionSinceAddress[house] = true;
        HeardFunction function{houseLetter(house), actsOnAWholeHouse(low) ? "" : unitList(selections.units[house]),
                               functionName(low), 0};
        const auto code = static_cast<x10::Function>(low);
        if (code == x10::Function::Dim || code == x10::Function::Bright) {
            if (i + 1 < data.size()) {
                ++i;
                function.level = static_cast<std::int16_t>((data[i] * 100 + levelFullRange / 2) / levelFullRange);
            }
        } else if (low == x10::extendedCode) {
            i += 2;  // its data and command byte
        }
        heard.push_back(std::move(function));
    }
    return heard;
}

}  // namespace quenvar::control
