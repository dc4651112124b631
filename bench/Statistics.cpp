#include <algorithm>
#include <cmath>

#include "bench/BenchSupport.h"

namespace quenvar::bench {

double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0.0;
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
    const std::size_t index = std::clamp<std::size_t>(rank, 1, samples.size()) - 1;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index), samples.end());
    return samples[index];
}

}  // namespace quenvar::bench
