#include "commandline/Program.h"

#include <QTextStream>

#include <cstdio>

#include "commandline/Session.h"
#include "platform/automation/RuntimeError.h"
#include "platform/headless/PortLock.h"
#include "platform/serial/PortMap.h"

namespace quenvar::commandline {

int runProgram(const QStringList& arguments) {
    const auto parsed = parseInvocation(arguments);
    if (const EarlyExit* early = std::get_if<EarlyExit>(&parsed)) {
        QTextStream stream(early->toStandardError ? stderr : stdout);
        stream << early->text;
        return early->exitCode;
    }
    Invocation invocation = std::get<Invocation>(parsed);
    Console console(invocation);

    // A device path is reached as port 1 of the control, through the variable that names port 1's
    // device for this process only.
    int port = invocation.port.value_or(1);
    QString device = invocation.device;
    if (!device.isEmpty()) {
        qputenv(serial::portVariableName(port).c_str(), device.toLocal8Bit());
    } else {
        device = QString::fromStdString(serial::deviceForPort(port));
    }
    // The bridge, when named or when it holds the port: it alone may talk to the interface then.
    QString broker = invocation.broker.isEmpty() ? qEnvironmentVariable("QUENVAR_BROKER") : invocation.broker;
    if (broker.isEmpty()) {
        if (const auto holder = headless::PortLock::holder(device); holder && !holder->broker.isEmpty()) {
            broker = holder->broker;
            if (!holder->prefix.isEmpty()) invocation.prefix = holder->prefix;
            if (!holder->interfaceId.isEmpty()) invocation.interfaceId = holder->interfaceId;
        }
    }
    if (!broker.isEmpty()) return runThroughBridge(invocation, broker, console);
    return runOnPort(invocation, device, port, console);
}

}  // namespace quenvar::commandline
