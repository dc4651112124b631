#include "bench/BenchSupport.h"

#include <sys/utsname.h>
#include <cstdio>
#include <fstream>

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
    const std::string kernel =
        uname(&system) == 0 ? std::string(system.sysname) + " " + system.release : std::string("unknown kernel");
    return model + ", " + std::to_string(processors) + (processors == 1 ? " core, " : " cores, ") + kernel;
}

void printHeader(const char* title) {
    std::printf("%s\nmachine: %s\n", title, machineDescription().c_str());
    std::fflush(stdout);
}

}  // namespace quenvar::bench
