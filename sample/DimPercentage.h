#pragma once
// The dim percentage that the slider stands for: five per cent a step.
//
// Both functions raise automation::RuntimeError overflow (6) instead of wrapping: the product
// is computed in 32 bits, and the command argument must also fit the control's 16-bit
// dimvalue parameter.

#include <cstdint>
#include <string>

namespace quenvar::sample {

inline constexpr std::int32_t percentPerSliderStep = 5;

// The slider value times five, as a 32-bit integer.
std::int32_t dimPercentage(int sliderValue);

// The same percentage as the 16-bit integer the Dim and Bright commands pass.
std::int16_t dimValueArgument(int sliderValue);

// The caption of the percentage label: decimal digits (a minus sign when negative, no leading
// zeros, no separators) followed by "%", e.g. 7 gives "35%".
std::string dimPercentageCaption(int sliderValue);

}  // namespace quenvar::sample
