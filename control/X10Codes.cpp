#include "control/X10Codes.h"

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

}  // namespace quenvar::control::x10
