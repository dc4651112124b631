// The program as a person meets it, measured from outside its process:
// - start to the port selection window on screen (offscreen platform): from just before fork
//   to the window's first expose event, reported by the program itself (quenvarsample_probe);
// - resident memory with both windows open (VmRSS, VmHWM);
// - idle cost with the port open and nothing happening: context switches of all its threads
//   over 10 s.
// The virtual interface x10sim is started as a program of its own and mapped to CommPort 1;
// the control is registered in a registry folder of this run. Figures only.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/Processes.h"

namespace {

using namespace quenvar::bench;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct ProbeRun {
    std::unique_ptr<Pipe> reports = std::make_unique<Pipe>();
    std::unique_ptr<Child> program;
    std::unique_ptr<LineReader> lines;

    explicit ProbeRun(const Setup& setup) {
        std::vector<std::string> environment = setup.environment;
        environment.push_back("QUENVAR_PROBE_REPORT_FD=" + std::to_string(reports->write));
        // The offscreen platform warns about what it cannot do (raise a window and the like).
        const int errors = open(setup.programErrors.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        program = std::make_unique<Child>(setup.bin / "quenvarsample_probe", std::vector<std::string>{}, environment,
                                          -1, reports->write, errors);
        if (errors >= 0) close(errors);
        reports->closeWrite();
        lines = std::make_unique<LineReader>(reports->read);
    }

    // The time of the report `what`, in ns since the program was started.
    double awaitReport(const std::string& what) {
        const auto line = lines->next(20s);
        if (!line) {
            throw std::runtime_error("the program did not report \"" + what +
                                     "\" within 20 s (a message box may be waiting, or it ended; see above)");
        }
        std::istringstream fields(*line);
        std::string name;
        long long at = 0;
        fields >> name >> at;
        if (name != what)
            throw std::runtime_error("the program reported \"" + *line + "\" instead of \"" + what + "\"");
        return static_cast<double>(at - program->startedAt());
    }
};

void benchmarkStartUp(const Setup& setup) {
    constexpr int launches = 7;
    std::vector<double> milliseconds;
    for (int i = 0; i < launches; ++i) {
        ProbeRun run(setup);
        milliseconds.push_back(run.awaitReport("frmcom") / 1e6);
    }
    std::printf(
        "start to the port selection window exposed (fork + exec, offscreen): median %.1f ms, "
        "min %.1f ms, max %.1f ms over %d launches\n",
        quenvar::bench::percentile(milliseconds, 0.5), *std::min_element(milliseconds.begin(), milliseconds.end()),
        *std::max_element(milliseconds.begin(), milliseconds.end()), launches);
}

void benchmarkOpenAndIdle(const Setup& setup) {
    ProbeRun run(setup);
    run.awaitReport("frmcom");
    const double afterOk = run.awaitReport("frmx10");
    run.awaitReport("both");
    // Let the windows' first paint and any deferred work finish before looking.
    std::this_thread::sleep_for(500ms);
    const std::string status = "/proc/" + std::to_string(run.program->pid()) + "/status";
    if (!hasOpen(run.program->pid(), setup.device)) {
        throw std::runtime_error("the program does not hold " + setup.device + " open after OK");
    }
    std::printf(
        "with both windows open and CommPort 1 open on %s (controller window exposed %.1f ms after start): "
        "VmRSS %ld KiB, VmHWM %ld KiB\n",
        setup.device.c_str(), afterOk / 1e6, statusValue(status, "VmRSS"), statusValue(status, "VmHWM"));

    printIdleWakeUps(run.program->pid(), "idle with the port open", "aim under 1");
}

}  // namespace

int main() {
    quenvar::bench::printHeader(
        "The program: start-up, memory and idle cost (quenvarsample, offscreen, x10sim on CommPort 1)");
    return runOnSetup("program_benchmark", [](Setup& setup) {
        benchmarkStartUp(setup);
        benchmarkOpenAndIdle(setup);
    });
}
