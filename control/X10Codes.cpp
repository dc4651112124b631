#include "control/X10Codes.h"

#include <algorithm>
#include <cmath>

#include "platform/automation/CheckedArithmetic.h"

namespace quenvar::control::x10 {

std::int16_t dimHeader(std::int16_t dimvalue) {
    using automation::addInt16;
    using automation::multiplyInt16;
    const auto tens = static_cast<std::int16_t>(std::floor(dimvalue / 10.0));
    const auto ones = static_cast<std::int16_t>(dimvalue % 10);
    const std::int16_t base = ones == 5 ? 6 : 14;
    return addInt16(base, multiplyInt16(16, tens));
}

std::array<std::uint8_t, clockSettingLength> clockSettingData(const LocalTime& time, const HouseCode& monitored) {
    const auto byte = [](int value) { return static_cast<std::uint8_t>(value & 0xFF); };
    return {
        byte(std::clamp(time.second, 0, 59)),
        byte((time.hour % 2) * 60 + time.minute),
        byte(time.hour / 2),
        byte(time.yearDay),
        byte(((time.yearDay >> 8) & 0x01) << 7 | (1 << (time.weekday % 7))),
        byte(monitored.nibble),  // flags (low nibble) all clear
    };
}

}  // namespace quenvar::control::x10
