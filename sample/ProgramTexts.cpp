#include "sample/ProgramTexts.h"

#include <cstdio>

namespace quenvar::sample {

std::string runtimeErrorHeading(std::int32_t number) {
    std::string heading = "Run-time error '" + std::to_string(number);
    if (number < 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " (%08X)", static_cast<unsigned>(static_cast<std::uint32_t>(number)));
        heading += hex;
    }
    return heading + "':";
}

}  // namespace quenvar::sample
