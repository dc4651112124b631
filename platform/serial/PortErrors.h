#pragma once
// The serial component's errors: every failure of the port becomes one run-time error whose
// description names the port and its device, says what went wrong and what the user can do.
// Plain C++: each platform's component maps its own system errors to a PortFault in one place.

#include <cstdint>
#include <string>

#include "platform/automation/RuntimeError.h"

namespace quenvar::serial {

// What went wrong with a port, whatever the system called it.
enum class PortFault {
    DeviceMissing,   // no such device
    NotASerialPort,  // the device exists but takes no serial line settings
    AccessDenied,    // the device's permissions keep this user out
    InUse,           // another program holds the port
    DeviceLost,      // the device stopped working or went away
    NotOpen,         // the operation needs an open port
    Other,
};

struct PortFailure {
    PortFault fault = PortFault::Other;
    int port = 0;
    std::string device;
    // The operating system's own words, shown in brackets where they add something.
    std::string systemMessage;
};

// Numbers: DeviceUnavailable (missing, or not a serial device), PermissionDenied,
// PortAlreadyOpen (in use by another program), PortNotOpen, DeviceIoError (anything else,
// including a device that stopped working).
automation::RuntimeError describePortFailure(const PortFailure& failure);

// The error for sending on a closed port (PortNotOpen).
automation::RuntimeError portNotOpenError(int port);

// The error for a device that went away while the port was open (DeviceIoError).
automation::RuntimeError deviceLostError(int port, const std::string& device);

}  // namespace quenvar::serial
