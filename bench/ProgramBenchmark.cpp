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

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// A child process started by this benchmark, ended by its own pid when the object goes.
class Child {
public:
    // Runs `program` with `arguments`; `environment` entries are added to ours. The child's
    // standard output goes to `stdoutFd`, its standard error to `stderrFd` when given; `keepFd`
    // stays open in the child.
    Child(const fs::path& program, const std::vector<std::string>& arguments,
          const std::vector<std::string>& environment, int stdoutFd = -1, int keepFd = -1, int stderrFd = -1) {
        startedAt_ = monotonicNanoseconds();
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error(std::string("cannot fork: ") + std::strerror(errno));
        if (pid_ == 0) {
            for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
            if (stdoutFd >= 0) dup2(stdoutFd, STDOUT_FILENO);
            if (stderrFd >= 0) dup2(stderrFd, STDERR_FILENO);
            if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            std::fprintf(stderr, "cannot start %s: %s\n", program.c_str(), std::strerror(errno));
            _exit(127);
        }
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    long long startedAt() const { return startedAt_; }

    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    long long startedAt_ = 0;
};

// Lines from a pipe, each awaited with a deadline (poll, no spinning).
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    std::optional<std::string> next(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms) return std::nullopt;
            pollfd readable{fd_, POLLIN, 0};
            if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[256];
            const ssize_t got = read(fd_, chunk, sizeof chunk);
            if (got <= 0) return std::nullopt;  // the other end is gone
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

private:
    int fd_;
    std::string buffer_;
};

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
        read = ends[0];
        write = ends[1];
    }
    ~Pipe() {
        closeWrite();
        if (read >= 0) close(read);
    }
    void closeWrite() {
        if (write >= 0) close(write);
        write = -1;
    }
};

long statusValue(const std::string& statusFile, const std::string& key) {
    std::ifstream status(statusFile);
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
    }
    return -1;
}

// Voluntary + involuntary context switches summed over every thread of the process.
long long contextSwitches(pid_t pid, int& threads) {
    const std::string taskFolder = "/proc/" + std::to_string(pid) + "/task";
    long long total = 0;
    threads = 0;
    for (const auto& task : fs::directory_iterator(taskFolder)) {
        const std::string status = task.path() / "status";
        const long voluntary = statusValue(status, "voluntary_ctxt_switches");
        const long involuntary = statusValue(status, "nonvoluntary_ctxt_switches");
        if (voluntary < 0 || involuntary < 0) continue;  // the thread ended meanwhile
        total += voluntary + involuntary;
        ++threads;
    }
    return total;
}

struct Setup {
    fs::path bin;
    fs::path folder;
    fs::path programErrors;  // the program's standard error, shown when something fails
    std::string device;
    std::unique_ptr<Child> simulator;
    std::unique_ptr<Pipe> simulatorOutput;
    std::vector<std::string> environment;
};

// Whether the process has `device` open.
bool hasOpen(pid_t pid, const std::string& device) {
    std::error_code ignored;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
        if (fs::read_symlink(fd.path(), ignored) == device) return true;
    }
    return false;
}

fs::path ownFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// Registers the control in a registry of this run and starts x10sim; the environment maps
// CommPort 1 to it and puts the program on the offscreen platform.
void prepare(Setup& setup) {
    setup.bin = ownFolder();
    char folderTemplate[] = "/tmp/quenvar-bench-XXXXXX";
    if (!mkdtemp(folderTemplate))
        throw std::runtime_error(std::string("cannot make a folder in /tmp: ") + std::strerror(errno));
    setup.folder = folderTemplate;
    const std::string registry = "QUENVAR_REGISTRY=" + (setup.folder / "registry").string();
    {
        Child regsvr(setup.bin / "quenvar-regsvr", {(setup.bin.parent_path() / "lib" / "quenvar.ocx").string()},
                     {registry}, open("/dev/null", O_WRONLY | O_CLOEXEC));
        if (regsvr.wait() != 0) throw std::runtime_error("quenvar-regsvr could not register quenvar.ocx (see above)");
    }
    setup.simulatorOutput = std::make_unique<Pipe>();
    setup.simulator = std::make_unique<Child>(setup.bin / "x10sim", std::vector<std::string>{"--quiet"},
                                              std::vector<std::string>{}, setup.simulatorOutput->write);
    setup.simulatorOutput->closeWrite();
    LineReader simulatorLines(setup.simulatorOutput->read);
    const auto device = simulatorLines.next(10s);
    if (!device || device->empty()) throw std::runtime_error("x10sim did not print its device within 10 s");
    setup.device = *device;
    const fs::path runtime = setup.folder / "runtime";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    setup.programErrors = setup.folder / "program-errors.txt";
    setup.environment = {registry, "QUENVAR_COMM1=" + setup.device, "QT_QPA_PLATFORM=offscreen",
                         "XDG_RUNTIME_DIR=" + runtime.string()};
}

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

    constexpr auto period = 10s;
    int threads = 0;
    const long long before = contextSwitches(run.program->pid(), threads);
    std::this_thread::sleep_for(period);
    const long long after = contextSwitches(run.program->pid(), threads);
    const double seconds = std::chrono::duration<double>(period).count();
    std::printf(
        "idle with the port open: %lld context switches over %.0f s across %d threads: %.2f wake-ups per second "
        "(aim under 1)\n",
        after - before, seconds, threads, static_cast<double>(after - before) / seconds);
}

}  // namespace

int main() {
    quenvar::bench::printHeader(
        "The program: start-up, memory and idle cost (quenvarsample, offscreen, x10sim on CommPort 1)");
    Setup setup;
    try {
        prepare(setup);
        benchmarkStartUp(setup);
        benchmarkOpenAndIdle(setup);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "program_benchmark: %s\n", failure.what());
        if (std::ifstream errors(setup.programErrors); errors) {
            std::fprintf(stderr, "the program's own messages:\n");
            std::string line;
            while (std::getline(errors, line)) std::fprintf(stderr, "  %s\n", line.c_str());
        }
        setup.simulator.reset();
        if (!setup.folder.empty()) fs::remove_all(setup.folder);
        return 1;
    }
    setup.simulator.reset();
    fs::remove_all(setup.folder);
    return 0;
}
