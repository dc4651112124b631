#pragma once
// The two ways a command reaches the line: through the port itself (the control created by
// ProgID, the port's lock held for the command), or through the MQTT bridge that holds the port.
// Both end with one of the exit codes below and say on standard error what went wrong.

#include <QString>
#include <QTextStream>

#include "commandline/Heard.h"
#include "commandline/Invocation.h"

namespace quenvar::commandline {

namespace exit_code {
inline constexpr int done = 0;
inline constexpr int noControl = 1;
inline constexpr int refused = 2;
inline constexpr int notFinished = 3;
inline constexpr int portUnavailable = 4;
inline constexpr int bridgeUnreachable = 5;
}  // namespace exit_code

// Where a session writes: results and heard functions on standard output, "heard:" lines and
// errors on standard error; --quiet keeps the first two quiet. Lines are flushed at once, for a
// pipe into jq as much as for a terminal.
class Console {
public:
    explicit Console(const Invocation& invocation);

    void done(const QString& what);
    void heardDuringCommand(const Heard& heard);
    void heardByMonitor(const Heard& heard);
    // The monitor is listening: a line on standard error (not with --quiet), so that a person,
    // and a script waiting for it, knows nothing heard from now on is missed.
    void listening(const QString& where);
    // "quenvar: <message>", and the code to end with.
    int fail(int exitCode, const QString& message);

private:
    bool quiet_;
    bool json_;
    QTextStream out_;
    QTextStream err_;
};

// Runs the command or the monitor on `device`, serial port `port` of the control.
int runOnPort(const Invocation& invocation, const QString& device, int port, Console& console);

// Runs the command or the monitor through the bridge on `brokerUrl`.
int runThroughBridge(const Invocation& invocation, const QString& brokerUrl, Console& console);

// Ends a monitor cleanly on SIGINT, SIGTERM or SIGHUP: `onSignal` runs in the event loop.
void onTerminationSignal(QObject* context, std::function<void()> onSignal);

}  // namespace quenvar::commandline
