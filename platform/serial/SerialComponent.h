#pragma once
// The serial component a control owns: exactly the members its link layer relies on.
// Plain C++ so that protocol code can be driven by a scripted component in tests.
//
// Every failing member raises automation::RuntimeError (number + description) naming the
// device and what the user can do about it.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/automation/RuntimeError.h"

namespace quenvar::serial {

// Values of CommEvent.
namespace comm_event {
inline constexpr std::int16_t None = 0;
inline constexpr std::int16_t Send = 1;
inline constexpr std::int16_t Receive = 2;  // data received
inline constexpr std::int16_t DeviceLost = 1010;
}  // namespace comm_event

class SerialComponent {
public:
    virtual ~SerialComponent() = default;

    // Selects the port number (1..) that the next open uses. A number the port map does not
    // know raises a run-time error.
    virtual void setCommPort(std::int16_t port) = 0;
    virtual std::int16_t commPort() const = 0;

    // true opens the selected port, false closes it. Opening while open: the same port stays
    // open untouched; another port closes the old one and opens the new one.
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;

    // Every char goes on the line as one byte equal to its code, in write order.
    virtual void setOutput(const std::string& bytes) = 0;

    // One received character per read; the empty text when nothing is waiting.
    virtual std::string input() = 0;

    // The reason for the latest OnComm notification.
    virtual std::int16_t commEvent() const = 0;

    // OnComm: raised from the owner thread's event loop, never inside a member call, once per
    // received byte while bytes remain unread. A handler may throw RuntimeError; the
    // component reports it through the error handler and keeps working.
    using CommHandler = std::function<void()>;
    void setOnComm(CommHandler handler) { onComm_ = std::move(handler); }

    // Errors that reach no caller: an error that ended the OnComm handler, or a device that
    // disappeared while open (the port is closed at once and this is reported once).
    using ErrorHandler = std::function<void(const automation::RuntimeError&)>;
    void setOnError(ErrorHandler handler) { onError_ = std::move(handler); }

protected:
    const CommHandler& onComm() const { return onComm_; }
    const ErrorHandler& onError() const { return onError_; }

private:
    CommHandler onComm_;
    ErrorHandler onError_;
};

}  // namespace quenvar::serial
