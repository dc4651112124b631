#include "bench/BenchSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sys/utsname.h>

namespace quenvar::bench {

std::string machineDescription() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown CPU";
    int processors = 0;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("processor", 0) == 0) {
            ++processors;
        } else if (line.rfind("model name", 0) == 0 && processors <= 1) {
            const auto colon = line.find(':');
            if (colon != std::string::npos) model = line.substr(line.find_first_not_of(' ', colon + 1));
        }
    }
    utsname system{};
    const std::string kernel = uname(&system) == 0 ? std::string(system.sysname) + " " + system.release
                                                   : std::string("unknown kernel");
    return model + ", " + std::to_string(processors) + (processors == 1 ? " core, " : " cores, ") + kernel;
}

void printHeader(const char* title) {
    std::printf("%s\nmachine: %s\n", title, machineDescription().c_str());
    std::fflush(stdout);
}

double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0.0;
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
    const std::size_t index = std::clamp<std::size_t>(rank, 1, samples.size()) - 1;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index), samples.end());
    return samples[index];
}

}  // namespace quenvar::bench
