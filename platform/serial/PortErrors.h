#pragma once
// The serial component's errors: every failure of the port becomes one run-time error whose
// description names the port and its device, says what went wrong and what the user can do.

#include <QSerialPort>
#include <cstdint>
#include <string>

#include "platform/automation/RuntimeError.h"

namespace quenvar::serial {

struct PortFailure {
    QSerialPort::SerialPortError error = QSerialPort::UnknownError;
    int port = 0;
    std::string device;
    // The operating system's own words, shown in brackets where they add something.
    std::string systemMessage;
    // Whether the device's permissions let this user read and write it. QSerialPort reports a
    // denied open and a port locked by another program alike; this tells them apart.
    bool accessAllowed = true;
};

// Numbers: DeviceUnavailable (no such device, or not a serial device), PermissionDenied,
// PortAlreadyOpen (in use by another program), DeviceIoError (anything else, including a
// device that stopped working).
automation::RuntimeError describePortFailure(const PortFailure& failure);

// The error for sending on a closed port (PortNotOpen).
automation::RuntimeError portNotOpenError(int port);

// The error for a device that went away while the port was open (DeviceIoError).
automation::RuntimeError deviceLostError(int port, const std::string& device);

}  // namespace quenvar::serial
