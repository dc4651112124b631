#include "platform/serial/PortMap.h"

#include <cstdlib>

#include "platform/automation/RuntimeError.h"

namespace quenvar::serial {

bool isKnownPort(int port) noexcept { return port >= FirstPortNumber && port <= LastPortNumber; }

std::string portVariableName(int port) { return "QUENVAR_COMM" + std::to_string(port); }

void checkPortNumber(int port) {
    if (isKnownPort(port)) return;
    throw automation::RuntimeError(automation::error_number::InvalidPortNumber,
                                   "Invalid port number " + std::to_string(port) + ": choose a port from " +
                                       std::to_string(FirstPortNumber) + " to " + std::to_string(LastPortNumber));
}

std::string deviceForPort(int port) {
    checkPortNumber(port);
    const std::string variable = portVariableName(port);
    const char* overridden = std::getenv(variable.c_str());
    if (overridden != nullptr && *overridden != '\0') return overridden;
#ifdef _WIN32
    return "COM" + std::to_string(port);
#else
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

}  // namespace quenvar::serial
