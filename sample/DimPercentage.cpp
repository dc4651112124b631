#include "sample/DimPercentage.h"

#include "platform/automation/CheckedArithmetic.h"

namespace quenvar::sample {

std::int32_t dimPercentage(int sliderValue) {
    return automation::multiplyInt32(automation::toInt32Checked(sliderValue), percentPerSliderStep);
}

std::int16_t dimValueArgument(int sliderValue) { return automation::toInt16Checked(dimPercentage(sliderValue)); }

QString dimPercentageCaption(int sliderValue) {
    // QString::number uses the C locale: no group separators whatever the user's locale.
    return QString::number(dimPercentage(sliderValue)) + QLatin1Char('%');
}

}  // namespace quenvar::sample
