#include "platform/serial/QtSerialComponent.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEvent>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QSocketNotifier>
#include <cerrno>
#include <cstddef>

#include "platform/serial/PortErrors.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcSerial, "quenvar.serial", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWire, "quenvar.serial.wire", QtWarningMsg)

namespace quenvar::serial {

namespace {

constexpr qint32 LineSpeed = 4800;
// Bytes still queued when the port closes get this long to reach the device; a device that
// takes no more must not hold the caller up for good.
constexpr int CloseSendTimeoutMs = 1000;

bool userMayReadAndWrite(const std::string& device) {
#ifdef Q_OS_UNIX
    return ::access(device.c_str(), R_OK | W_OK) == 0 || errno != EACCES;
#else
    Q_UNUSED(device);
    return true;
#endif
}

// QSerialPort's errors as the component's own; the one place that reads them.
PortFault faultOf(QSerialPort::SerialPortError error, bool accessAllowed) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError: return PortFault::DeviceMissing;
        // QSerialPort reports a denied open and a port locked by another program alike.
        case QSerialPort::PermissionError: return accessAllowed ? PortFault::InUse : PortFault::AccessDenied;
        case QSerialPort::OpenError: return PortFault::InUse;
        case QSerialPort::UnsupportedOperationError: return PortFault::NotASerialPort;
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError: return PortFault::DeviceLost;
        case QSerialPort::NotOpenError: return PortFault::NotOpen;
        case QSerialPort::NoError:
        case QSerialPort::TimeoutError:
        case QSerialPort::UnknownError: break;
    }
    return PortFault::Other;
}

}  // namespace

QtSerialComponent::QtSerialComponent(QObject* parent) : QObject(parent), port_(this) {
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialComponent::takeReceivedBytes);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialComponent::handlePortError);
}

QtSerialComponent::~QtSerialComponent() {
    closePort();
    disconnect(&port_, nullptr, this, nullptr);
}

void QtSerialComponent::attachDevice(std::int16_t port, const std::string& device) {
    port_.setPortName(QString::fromLocal8Bit(device.c_str()));
    port_.setBaudRate(LineSpeed);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);

    opening_ = true;
    const bool opened = port_.open(QIODevice::ReadWrite);
    opening_ = false;
    if (!opened) {
        PortFailure failure;
        failure.fault = faultOf(port_.error(), userMayReadAndWrite(device));
        failure.port = port;
        failure.device = device;
        failure.systemMessage = port_.errorString().toStdString();
        port_.clearError();
        const automation::RuntimeError error = describePortFailure(failure);
        qCWarning(lcSerial).noquote() << QString::fromStdString(error.description());
        throw error;
    }

    ++openSession_;
    watchForHangUp();
    qCDebug(lcSerial).noquote() << "Opened serial port" << port << device.c_str();
}

void QtSerialComponent::detachDevice() {
    if (!deviceLost()) sendWhatIsQueued();
    port_.close();
    port_.clearError();
    qCDebug(lcSerial).noquote() << "Closed serial port" << openPortNumber() << portDevice().c_str();
}

void QtSerialComponent::sendWhatIsQueued() {
    const QDeadlineTimer deadline(CloseSendTimeoutMs);
    while (port_.bytesToWrite() > 0 && !deadline.hasExpired() && !deviceLost()) {
        if (!port_.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) break;
    }
    if (port_.bytesToWrite() > 0) {
        qCWarning(lcSerial).noquote() << "Serial port" << openPortNumber() << portDevice().c_str() << "closed with"
                                      << port_.bytesToWrite() << "bytes that could not be sent";
    }
}

// QSerialPort notices neither a pseudo-terminal whose other side has gone nor a hung-up tty:
// reading returns nothing and the read notifier fires again at once, for ever. Its notifiers
// are watched here so that a hang-up is seen on its first sign.
void QtSerialComponent::watchForHangUp() {
#ifdef Q_OS_UNIX
    const auto notifiers = port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier* notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read) notifier->installEventFilter(this);
    }
#endif
}

bool QtSerialComponent::deviceHungUp() const {
#ifdef Q_OS_UNIX
    const int descriptor = static_cast<int>(port_.handle());
    if (descriptor < 0) return false;
    pollfd watched{descriptor, POLLIN, 0};
    if (::poll(&watched, 1, 0) <= 0) return false;
    if ((watched.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) return false;
    // Bytes that arrived before the hang-up are still read first.
    int waiting = 0;
    return ::ioctl(descriptor, FIONREAD, &waiting) != 0 || waiting <= 0;
#else
    return false;
#endif
}

bool QtSerialComponent::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::SockAct && watched->parent() == &port_ && portOpen() && deviceHungUp()) {
        loseDevice();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void QtSerialComponent::writeToDevice(const std::string& bytes) {
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    qCDebug(lcWire).noquote() << "port" << openPortNumber() << "->" << data.toHex(' ');
    const qint64 written = port_.write(data);
    if (written != data.size()) {
        PortFailure failure;
        failure.fault = faultOf(port_.error(), true);
        failure.port = openPortNumber();
        failure.device = portDevice();
        failure.systemMessage = port_.errorString().toStdString();
        port_.clearError();
        throw describePortFailure(failure);
    }
}

void QtSerialComponent::collectBytesWaitingInDevice() {
    if (portOpen() && port_.bytesAvailable() > 0) takeReceivedBytes();
}

void QtSerialComponent::takeReceivedBytes() {
    const QByteArray data = port_.readAll();
    if (data.isEmpty()) return;
    qCDebug(lcWire).noquote() << "port" << openPortNumber() << "<-" << data.toHex(' ');
    storeReceivedBytes(data.constData(), static_cast<std::size_t>(data.size()));
    scheduleNotification();
}

bool QtSerialComponent::postNotification() {
    QMetaObject::invokeMethod(
        this, [this] { deliverNotification(); }, Qt::QueuedConnection);
    return true;
}

void QtSerialComponent::log(LogLevel level, const std::string& message) const {
    if (level == LogLevel::Warning)
        qCWarning(lcSerial).noquote() << QString::fromStdString(message);
    else
        qCDebug(lcSerial).noquote() << QString::fromStdString(message);
}

void QtSerialComponent::handlePortError(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::NoError:
        case QSerialPort::TimeoutError:
        case QSerialPort::NotOpenError:
        // Raised for modem-line and similar requests a device does not support (a pseudo-terminal
        // has no DTR); the port works without them.
        case QSerialPort::UnsupportedOperationError: return;
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
            if (!opening_) loseDevice();
            return;
        case QSerialPort::DeviceNotFoundError:
        case QSerialPort::PermissionError:
        case QSerialPort::OpenError:
        case QSerialPort::UnknownError:
            // While opening, open()'s result decides; otherwise the port still works.
            if (!opening_) {
                qCWarning(lcSerial).noquote()
                    << "Serial port" << openPortNumber() << portDevice().c_str() << "reported:" << port_.errorString();
            }
            return;
    }
}

// Called from inside QSerialPort's own notifier or error signal: the port is closed from the
// event loop, outside the notifier that is reporting.
void QtSerialComponent::closeLostPort(const automation::RuntimeError& error) {
    // Quiet the port's notifiers now; QSerialPort would otherwise be woken again at once.
    for (QSocketNotifier* notifier : port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly))
        notifier->setEnabled(false);
    QMetaObject::invokeMethod(
        this,
        [this, error, session = openSession_] {
            if (session == openSession_) closePort();
            reportError(error);
        },
        Qt::QueuedConnection);
}

}  // namespace quenvar::serial
