// quenvar as a script meets it, measured from outside its process with x10sim answering at once:
// - `quenvar on A1` as a whole process, from just before fork to its exit seen by waitpid (the
//   control created by ProgID, the port locked and opened, two transmissions and their
//   handshakes, the port closed);
// - `quenvar monitor` idle with the port open: context switches of all its threads over 10 s.
// Figures only.

#include <algorithm>
#include <thread>

#include "bench/BenchSupport.h"
#include "bench/Processes.h"

namespace {

using namespace quenvar::bench;

void benchmarkOneCommand(const Setup& setup, const std::vector<std::string>& environment) {
    constexpr int runs = 41;
    std::vector<double> milliseconds;
    for (int i = 0; i <= runs; ++i) {
        Child command(setup.bin / "quenvar", {"--quiet", i % 2 == 0 ? "on" : "off", "A1"}, environment);
        const int code = command.wait();
        const double took = static_cast<double>(monotonicNanoseconds() - command.startedAt()) / 1e6;
        if (code != 0) throw std::runtime_error("quenvar on A1 ended with exit code " + std::to_string(code));
        if (i > 0) milliseconds.push_back(took);  // the first fills the file cache
    }
    std::printf(
        "quenvar on A1 / off A1, whole process (fork to exit): median %.1f ms, p90 %.1f ms, min %.1f ms, max %.1f ms "
        "over %d runs (aim: median under 60 ms)\n",
        percentile(milliseconds, 0.5), percentile(milliseconds, 0.9),
        *std::min_element(milliseconds.begin(), milliseconds.end()),
        *std::max_element(milliseconds.begin(), milliseconds.end()), runs);
}

void benchmarkIdleMonitor(const Setup& setup, const std::vector<std::string>& environment) {
    Child monitor(setup.bin / "quenvar", {"monitor"}, environment);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!hasOpen(monitor.pid(), setup.device)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("quenvar monitor did not open " + setup.device + " within 10 s");
        std::this_thread::sleep_for(10ms);
    }
    // Start-up work (the module loaded, the port's first notifications) is over before looking.
    std::this_thread::sleep_for(500ms);
    printIdleWakeUps(monitor.pid(), "quenvar monitor idle with the port open", "aim 0");
}

}  // namespace

int main() {
    printHeader("The command line: quenvar on A1 as a whole process, and monitor idle (x10sim answering at once)");
    return runOnSetup("commandline_benchmark", [](Setup& setup) {
        std::vector<std::string> environment = setup.environment;
        environment.push_back("QUENVAR_LOCK_DIR=" + setup.folder.string());
        benchmarkOneCommand(setup, environment);
        benchmarkIdleMonitor(setup, environment);
    });
}
