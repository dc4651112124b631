#pragma once
// What every platform's serial component does alike, on top of which a platform adds only the
// device I/O. Plain C++, for the Linux and the Windows build alike.
//
// It keeps:
// - the selected port (checked against PortMap) and the open port's number and device; opening
//   the open port again leaves it untouched, opening another one closes the old one first;
// - the received bytes in arrival order until input() hands them out, one per read; they stay
//   readable after a close until the next open, which starts with an empty buffer;
// - OnComm: one notification pending at most, delivered from the owner thread's event loop and
//   only while the port is open; after a handler returns another follows only if bytes remain
//   unread and the handler read at least one. A handler may destroy the component;
// - errors that reach no caller go to the error handler: a failing OnComm handler, a device
//   that went away (commEvent() becomes DeviceLost, the port closes, reported once).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/serial/SerialComponent.h"

namespace quenvar::serial {

class SerialComponentBase : public SerialComponent {
public:
    // A platform's destructor closes the port: the device I/O is gone by the time this runs.
    ~SerialComponentBase() override = default;

    void setCommPort(std::int16_t port) final;
    std::int16_t commPort() const final;
    void setPortOpen(bool open) final;
    // A lost device counts as closed from the moment it is noticed, even where the platform
    // closes the device itself later, from its event loop.
    bool portOpen() const final;
    void setOutput(const std::string& bytes) final;
    std::string input() final;
    std::int16_t commEvent() const final;

    // The device of the open port, as PortMap names it; empty while closed.
    std::string openDevice() const;

    // Received bytes not yet read.
    std::size_t bytesWaiting() const;

protected:
    SerialComponentBase() = default;

    enum class LogLevel { Debug, Warning };

    // The platform's device I/O. attachDevice opens `device` for `port` with the line settings
    // and starts watching it for bytes, or raises the RuntimeError that says why it cannot.
    virtual void attachDevice(std::int16_t port, const std::string& device) = 0;
    // Closes the open port's device; openPortNumber() and portDevice() still name it.
    virtual void detachDevice() = 0;
    // Writes bytes to the open port's device; a failure raises a RuntimeError.
    virtual void writeToDevice(const std::string& bytes) = 0;
    // Has the owner thread's event loop call deliverNotification() later; false if it cannot.
    virtual bool postNotification() = 0;
    // Moves bytes the device already holds into the receive buffer before input() reads it.
    virtual void collectBytesWaitingInDevice() {}
    // Closes the port of a lost device and reports `error`. Closing at once is the rule; a
    // platform whose device tells of its loss from inside its own I/O defers both.
    virtual void closeLostPort(const automation::RuntimeError& error);
    // Where the platform's diagnostics go; the errors themselves reach the error handler.
    virtual void log(LogLevel level, const std::string& message) const = 0;

    // Closes the open port (also one whose device is lost); does nothing while closed.
    void closePort();

    std::int16_t openPortNumber() const { return openPortNumber_; }
    // The device of the open port, also while a lost device waits to be closed.
    const std::string& portDevice() const { return openDevice_; }
    bool deviceLost() const { return deviceLost_; }

    // Keeps bytes that arrived for input(); scheduleNotification() tells the handler of them.
    void storeReceivedBytes(const char* bytes, std::size_t count);
    void scheduleNotification();
    // What the event loop runs for a posted notification: OnComm, if the port is still open and
    // bytes still wait.
    void deliverNotification();

    // The device went away while the port was open, noticed outside any member call: the
    // port closes (through closeLostPort) and the error handler hears of it once.
    void loseDevice();
    // The device went away under a member call: the port closes at once and the error is
    // returned for the call to raise, instead of reaching the error handler.
    automation::RuntimeError loseDeviceUnderCall();

    void reportError(const automation::RuntimeError& error);

private:
    void openSelectedPort();
    void runCommHandler();

    std::int16_t selectedPort_ = 1;
    std::int16_t openPortNumber_ = 0;
    std::string openDevice_;
    bool deviceLost_ = false;
    std::int16_t commEvent_ = comm_event::None;

    std::deque<char> received_;
    // Counts every byte handed out by input(); a handler that moved it read something.
    std::uint64_t bytesRead_ = 0;
    bool notificationPending_ = false;
    // Expires with the component, so a handler that destroys it is noticed on return.
    std::shared_ptr<char> lifetime_ = std::make_shared<char>();
};

}  // namespace quenvar::serial
