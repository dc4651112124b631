#include "platform/serial/PortMap.h"

#include <QByteArray>
#include <QtGlobal>

#include "platform/automation/RuntimeError.h"

namespace quenvar::serial {

bool isKnownPort(int port) noexcept {
    return port >= FirstPortNumber && port <= LastPortNumber;
}

std::string portVariableName(int port) {
    return "QUENVAR_COMM" + std::to_string(port);
}

void checkPortNumber(int port) {
    if (isKnownPort(port))
        return;
    throw automation::RuntimeError(
        automation::error_number::InvalidPortNumber,
        "Invalid port number " + std::to_string(port) + ": choose a port from "
            + std::to_string(FirstPortNumber) + " to " + std::to_string(LastPortNumber));
}

std::string deviceForPort(int port) {
    checkPortNumber(port);
    const std::string variable = portVariableName(port);
    const QByteArray overridden = qgetenv(variable.c_str());
    if (!overridden.isEmpty())
        return overridden.toStdString();
#ifdef Q_OS_WIN
    return "COM" + std::to_string(port);
#else
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

}  // namespace quenvar::serial
