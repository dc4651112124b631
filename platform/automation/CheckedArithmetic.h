#pragma once
// 16- and 32-bit signed integer arithmetic that raises the overflow run-time error instead
// of wrapping, as the language's integer types do.

#include <cstdint>
#include <limits>

#include "RuntimeError.h"

namespace quenvar::automation {

template <typename Int>
constexpr Int narrowChecked(long long value) {
    if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max()) {
        throw RuntimeError::overflow();
    }
    return static_cast<Int>(value);
}

constexpr std::int16_t toInt16Checked(long long value) { return narrowChecked<std::int16_t>(value); }
constexpr std::int32_t toInt32Checked(long long value) { return narrowChecked<std::int32_t>(value); }

constexpr std::int16_t addInt16(std::int16_t a, std::int16_t b) {
    return toInt16Checked(static_cast<long long>(a) + b);
}
constexpr std::int16_t multiplyInt16(std::int16_t a, std::int16_t b) {
    return toInt16Checked(static_cast<long long>(a) * b);
}
constexpr std::int32_t multiplyInt32(std::int32_t a, std::int32_t b) {
    return toInt32Checked(static_cast<long long>(a) * b);
}

}  // namespace quenvar::automation
