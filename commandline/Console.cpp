#include <QSocketNotifier>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

#include "commandline/Session.h"

namespace quenvar::commandline {

Console::Console(const Invocation& invocation)
    : quiet_(invocation.quiet), json_(invocation.json), out_(stdout), err_(stderr) {}

void Console::done(const QString& what) {
    if (quiet_) return;
    out_ << what << ": done\n";
    out_.flush();
}

void Console::heardDuringCommand(const Heard& heard) {
    if (quiet_) return;
    err_ << "heard: " << heard.what() << '\n';
    err_.flush();
}

void Console::heardByMonitor(const Heard& heard) {
    if (json_)
        out_ << heard.json() << '\n';
    else
        out_ << heard.text() << '\n';
    out_.flush();
}

void Console::listening(const QString& where) {
    if (quiet_) return;
    err_ << "quenvar: listening to " << where << "; Ctrl+C ends\n";
    err_.flush();
}

int Console::fail(int exitCode, const QString& message) {
    err_ << "quenvar: " << message << '\n';
    err_.flush();
    return exitCode;
}

void onTerminationSignal(QObject* context, std::function<void()> onSignal) {
    // The blocked are taken as data on a descriptor the event loop watches: no handler runs at an
    // arbitrary moment, and waiting for one costs no wake-ups.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    const int descriptor = signalfd(-1, &blocked, SFD_CLOEXEC | SFD_NONBLOCK);
    if (descriptor < 0) {
        sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
        return;
    }
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [descriptor, onSignal = std::move(onSignal)] {
        signalfd_siginfo info;
        while (::read(descriptor, &info, sizeof info) == sizeof info) {
        }
        onSignal();
    });
}

}  // namespace quenvar::commandline
