#include "sample/DimPercentage.h"

#include "platform/automation/CheckedArithmetic.h"

namespace quenvar::sample {

std::int32_t dimPercentage(int sliderValue) {
    return automation::multiplyInt32(automation::toInt32Checked(sliderValue), percentPerSliderStep);
}

std::int16_t dimValueArgument(int sliderValue) { return automation::toInt16Checked(dimPercentage(sliderValue)); }

std::string dimPercentageCaption(int sliderValue) {
    // std::to_string knows no locale: no group separators whatever the user's settings.
    return std::to_string(dimPercentage(sliderValue)) + '%';
}

}  // namespace quenvar::sample
