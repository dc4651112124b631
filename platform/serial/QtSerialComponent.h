#pragma once
// The serial component on QSerialPort: 4800 bit/s, 8 data bits, no parity, 1 stop bit, no
// flow control; the modem lines are left as the device has them.
//
// What a caller may rely on, beyond SerialComponent:
// - Port numbers are those of PortMap (1..16); the device is looked up at each open.
// - Received bytes are kept in arrival order until read; input() hands out one per read.
// - OnComm runs from the owner thread's event loop, never inside a member call. One
//   notification is pending at most; after a handler returns another follows only if bytes
//   remain unread and the handler read at least one, so a handler that leaves a byte unread
//   is not called again for it until another byte arrives. Handlers may nest (a handler that
//   shows a modal box lets later notifications run inside it).
// - A handler that throws is reported through the error handler (and logged to
//   "quenvar.serial"); the component keeps working.
// - A device that goes away while open closes the port at once; commEvent() becomes
//   comm_event::DeviceLost and the error handler hears of it once, from the event loop.
// - Closing keeps the bytes not yet read available to input() until the next open, which
//   starts with an empty receive buffer; no notification runs while the port is closed.
// - Bytes written are queued in order and go out from the event loop; closing the port (or
//   destroying the component) first tries to send what is still queued, for a bounded time.
// - The wire is logged as hex dumps to "quenvar.serial.wire" (debug level, off by default).

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "platform/serial/SerialComponent.h"

namespace quenvar::serial {

class QtSerialComponent : public QObject, public SerialComponent {
    Q_OBJECT
public:
    explicit QtSerialComponent(QObject* parent = nullptr);
    ~QtSerialComponent() override;

    QtSerialComponent(const QtSerialComponent&) = delete;
    QtSerialComponent& operator=(const QtSerialComponent&) = delete;

    void setCommPort(std::int16_t port) override;
    std::int16_t commPort() const override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void setOutput(const std::string& bytes) override;
    std::string input() override;
    std::int16_t commEvent() const override;

    // The device of the open port; empty while closed.
    std::string openDevice() const;

    // Received bytes not yet read.
    std::size_t bytesWaiting() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openSelectedPort();
    void closePort();
    void sendWhatIsQueued();
    void watchForHangUp();
    bool deviceHungUp() const;

    void takeReceivedBytes();
    void scheduleNotification();
    void deliverNotification();
    void runCommHandler();
    void reportError(const automation::RuntimeError& error);

    void handlePortError(QSerialPort::SerialPortError error);
    void loseDevice();

    QSerialPort port_;
    std::int16_t selectedPort_ = 1;
    std::int16_t openPortNumber_ = 0;
    std::string openDevice_;
    std::int16_t commEvent_ = comm_event::None;

    std::deque<char> received_;
    // Counts every byte handed out by input(); a handler that moved it read something.
    std::uint64_t bytesRead_ = 0;
    bool notificationPending_ = false;
    // Errors QSerialPort signals while open() runs are judged from open()'s result instead.
    bool opening_ = false;
    bool losingDevice_ = false;
    // Tells a deferred close after a lost device whether the port has been reopened since.
    std::uint64_t openSession_ = 0;
};

}  // namespace quenvar::serial
