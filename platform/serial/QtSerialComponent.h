#pragma once
// The serial component on QSerialPort: 4800 bit/s, 8 data bits, no parity, 1 stop bit, no
// flow control; the modem lines are left as the device has them.
//
// What a caller may rely on, beyond SerialComponentBase:
// - Port numbers are those of PortMap (1..16); the device is looked up at each open.
// - OnComm runs from the thread's Qt event loop. Handlers may nest (a handler that shows a
//   modal box lets later notifications run inside it).
// - A device that goes away while open (a tty hung up, a pseudo-terminal whose other side
//   closed) counts as closed at once; the descriptor is closed and the error handler hears of
//   it from the event loop. Failures are logged to "quenvar.serial".
// - Bytes written are queued in order and go out from the event loop; closing the port (or
//   destroying the component) first tries to send what is still queued, for a bounded time.
// - The wire is logged as hex dumps to "quenvar.serial.wire" (debug level, off by default).

#include <QObject>
#include <QSerialPort>
#include <cstdint>
#include <string>

#include "platform/serial/SerialComponentBase.h"

namespace quenvar::serial {

class QtSerialComponent : public QObject, public SerialComponentBase {
    Q_OBJECT
public:
    explicit QtSerialComponent(QObject* parent = nullptr);
    ~QtSerialComponent() override;

    QtSerialComponent(const QtSerialComponent&) = delete;
    QtSerialComponent& operator=(const QtSerialComponent&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void attachDevice(std::int16_t port, const std::string& device) override;
    void detachDevice() override;
    void writeToDevice(const std::string& bytes) override;
    bool postNotification() override;
    void collectBytesWaitingInDevice() override;
    void closeLostPort(const automation::RuntimeError& error) override;
    void log(LogLevel level, const std::string& message) const override;

    void sendWhatIsQueued();
    void watchForHangUp();
    bool deviceHungUp() const;
    void takeReceivedBytes();
    void handlePortError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    // Errors QSerialPort signals while open() runs are judged from open()'s result instead.
    bool opening_ = false;
    // Tells a deferred close after a lost device whether the port has been reopened since.
    std::uint64_t openSession_ = 0;
};

}  // namespace quenvar::serial
