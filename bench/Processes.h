#pragma once
// What the benchmarks that measure a program from outside its process share: children started
// and ended by their own pid, lines read from a pipe with a deadline, a process's context
// switches and open devices, and the setup of a run: the control registered in a registry of the
// run's own and x10sim started as a program, answering at once, mapped to CommPort 1.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quenvar::bench {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline long long monotonicNanoseconds() {
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

inline long statusValue(const std::string& statusFile, const std::string& key) {
    std::ifstream status(statusFile);
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
    }
    return -1;
}

// Voluntary + involuntary context switches summed over every thread of the process.
inline long long contextSwitches(pid_t pid, int& threads) {
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
inline bool hasOpen(pid_t pid, const std::string& device) {
    std::error_code ignored;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
        if (fs::read_symlink(fd.path(), ignored) == device) return true;
    }
    return false;
}

inline fs::path ownFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// Registers the control in a registry of this run and starts x10sim; the environment maps
// CommPort 1 to it and puts the program on the offscreen platform.
inline void prepare(Setup& setup) {
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

// Prints the context switches of every thread of `pid` over 10 s of nothing happening, as
// wake-ups per second, after `what` ("idle with the port open") and before `aim`.
inline void printIdleWakeUps(pid_t pid, const char* what, const char* aim) {
    constexpr auto period = 10s;
    int threads = 0;
    const long long before = contextSwitches(pid, threads);
    std::this_thread::sleep_for(period);
    const long long after = contextSwitches(pid, threads);
    const double seconds = std::chrono::duration<double>(period).count();
    std::printf("%s: %lld context switches over %.0f s across %d threads: %.2f wake-ups per second (%s)\n", what,
                after - before, seconds, threads, static_cast<double>(after - before) / seconds, aim);
}

// A benchmark's whole run: the setup prepared, `measure` run on it, the simulator stopped and
// the run's folder removed whatever happened. On a failure it names the benchmark and what went
// wrong, with the measured program's own messages when it left any; the exit code to end with.
inline int runOnSetup(const char* benchmark, const std::function<void(Setup&)>& measure) {
    Setup setup;
    int code = 0;
    try {
        prepare(setup);
        measure(setup);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s: %s\n", benchmark, failure.what());
        if (std::ifstream errors(setup.programErrors); errors) {
            std::fprintf(stderr, "the program's own messages:\n");
            std::string line;
            while (std::getline(errors, line)) std::fprintf(stderr, "  %s\n", line.c_str());
        }
        code = 1;
    }
    setup.simulator.reset();
    if (!setup.folder.empty()) fs::remove_all(setup.folder);
    return code;
}

}  // namespace quenvar::bench
