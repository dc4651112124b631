#include "platform/serial/PortErrors.h"

#include "platform/serial/PortMap.h"

namespace quenvar::serial {

namespace {

std::string portAndDevice(int port, const std::string& device) {
    return "serial port " + std::to_string(port) + " (" + device + ")";
}

std::string capitalised(std::string text) {
    if (!text.empty() && text.front() >= 'a' && text.front() <= 'z')
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
    return text;
}

std::string inBrackets(const std::string& systemMessage) {
    return systemMessage.empty() ? std::string() : " (" + systemMessage + ")";
}

}  // namespace

automation::RuntimeError describePortFailure(const PortFailure& failure) {
    namespace number = automation::error_number;
    const std::string subject = portAndDevice(failure.port, failure.device);
    const std::string variable = portVariableName(failure.port);

    switch (failure.fault) {
        case PortFault::DeviceMissing:
            return {number::DeviceUnavailable, capitalised(subject) + " does not exist: connect the interface or set " +
                                                   variable + " to its device"};
        case PortFault::AccessDenied:
            return {number::PermissionDenied,
                    "Permission denied for " + subject +
                        ": your user must be in the 'dialout' group (sudo usermod -aG dialout "
                        "$USER, then log in again)"};
        case PortFault::InUse:
            return {number::PortAlreadyOpen, capitalised(subject) + " is in use by another program" +
                                                 inBrackets(failure.systemMessage) +
                                                 ": close that program or choose another port"};
        case PortFault::NotASerialPort:
            return {number::DeviceUnavailable, capitalised(subject) + " is not a serial port" +
                                                   inBrackets(failure.systemMessage) + ": set " + variable +
                                                   " to the interface's serial device"};
        case PortFault::DeviceLost: return deviceLostError(failure.port, failure.device);
        case PortFault::NotOpen: return portNotOpenError(failure.port);
        case PortFault::Other: break;
    }
    return {number::DeviceIoError, capitalised(subject) + " failed" + inBrackets(failure.systemMessage) +
                                       ": check the interface and its cable, then open the port again"};
}

automation::RuntimeError portNotOpenError(int port) {
    return {automation::error_number::PortNotOpen, "Operation valid only when the port is open: serial port " +
                                                       std::to_string(port) + " is closed; open it first"};
}

automation::RuntimeError deviceLostError(int port, const std::string& device) {
    return {automation::error_number::DeviceIoError,
            capitalised(portAndDevice(port, device)) +
                " stopped responding or was disconnected: check the interface and its cable, "
                "then open the port again"};
}

}  // namespace quenvar::serial
