#pragma once
// Which device a serial port number stands for.
//
// Port numbers 1 to 16 are known. Port n is the device named by the environment variable
// QUENVAR_COMMn when that is set and not empty (for example QUENVAR_COMM1=/dev/ttyUSB0, or
// the pseudo-terminal of a simulated interface), otherwise the machine's n-th serial port:
// /dev/ttyS<n-1> on Linux, COMn on Windows. The variable is read at each call, so a change
// takes effect at the next open.

#include <cstdint>
#include <string>

namespace quenvar::serial {

inline constexpr int FirstPortNumber = 1;
inline constexpr int LastPortNumber = 16;

// True for the numbers the map knows.
bool isKnownPort(int port) noexcept;

// The environment variable that overrides the device of a known port ("QUENVAR_COMM3").
std::string portVariableName(int port);

// The device for a known port. Raises automation::RuntimeError (InvalidPortNumber) naming the
// number and the valid range for any other number.
std::string deviceForPort(int port);

// Raises the same error as deviceForPort for a number the map does not know; does nothing
// otherwise.
void checkPortNumber(int port);

}  // namespace quenvar::serial
