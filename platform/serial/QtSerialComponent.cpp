#include "platform/serial/QtSerialComponent.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEvent>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>
#include <exception>
#include <utility>

#include "platform/serial/PortErrors.h"
#include "platform/serial/PortMap.h"

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
    case QSerialPort::DeviceNotFoundError:
        return PortFault::DeviceMissing;
    // QSerialPort reports a denied open and a port locked by another program alike.
    case QSerialPort::PermissionError:
        return accessAllowed ? PortFault::InUse : PortFault::AccessDenied;
    case QSerialPort::OpenError:
        return PortFault::InUse;
    case QSerialPort::UnsupportedOperationError:
        return PortFault::NotASerialPort;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        return PortFault::DeviceLost;
    case QSerialPort::NotOpenError:
        return PortFault::NotOpen;
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::UnknownError:
        break;
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

void QtSerialComponent::setCommPort(std::int16_t port) {
    checkPortNumber(port);
    selectedPort_ = port;
}

std::int16_t QtSerialComponent::commPort() const {
    return selectedPort_;
}

void QtSerialComponent::setPortOpen(bool open) {
    if (open)
        openSelectedPort();
    else
        closePort();
}

bool QtSerialComponent::portOpen() const {
    // A lost device counts as closed from the moment it is noticed, although the descriptor
    // itself is closed from the event loop.
    return port_.isOpen() && !losingDevice_;
}

std::string QtSerialComponent::openDevice() const {
    return portOpen() ? openDevice_ : std::string();
}

std::size_t QtSerialComponent::bytesWaiting() const {
    return received_.size();
}

void QtSerialComponent::openSelectedPort() {
    const std::string device = deviceForPort(selectedPort_);
    if (portOpen() && openPortNumber_ == selectedPort_)
        return;
    closePort();

    if (!received_.empty()) {
        qCDebug(lcSerial) << "Discarding" << received_.size()
                          << "bytes left unread from the previous session";
        received_.clear();
    }

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
        failure.port = selectedPort_;
        failure.device = device;
        failure.systemMessage = port_.errorString().toStdString();
        port_.clearError();
        const automation::RuntimeError error = describePortFailure(failure);
        qCWarning(lcSerial).noquote() << QString::fromStdString(error.description());
        throw error;
    }

    openPortNumber_ = selectedPort_;
    openDevice_ = device;
    ++openSession_;
    watchForHangUp();
    qCDebug(lcSerial).noquote() << "Opened serial port" << openPortNumber_ << device.c_str();
}

void QtSerialComponent::closePort() {
    if (!port_.isOpen())
        return;
    if (!losingDevice_)
        sendWhatIsQueued();
    port_.close();
    port_.clearError();
    qCDebug(lcSerial).noquote() << "Closed serial port" << openPortNumber_ << openDevice_.c_str();
    openPortNumber_ = 0;
    openDevice_.clear();
    losingDevice_ = false;
}

void QtSerialComponent::sendWhatIsQueued() {
    const QDeadlineTimer deadline(CloseSendTimeoutMs);
    while (port_.bytesToWrite() > 0 && !deadline.hasExpired() && !losingDevice_) {
        if (!port_.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            break;
    }
    if (port_.bytesToWrite() > 0) {
        qCWarning(lcSerial).noquote() << "Serial port" << openPortNumber_ << openDevice_.c_str()
                                      << "closed with" << port_.bytesToWrite()
                                      << "bytes that could not be sent";
    }
}

// QSerialPort notices neither a pseudo-terminal whose other side has gone nor a hung-up tty:
// reading returns nothing and the read notifier fires again at once, for ever. Its notifiers
// are watched here so that a hang-up is seen on its first sign.
void QtSerialComponent::watchForHangUp() {
#ifdef Q_OS_UNIX
    const auto notifiers = port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier* notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read)
            notifier->installEventFilter(this);
    }
#endif
}

bool QtSerialComponent::deviceHungUp() const {
#ifdef Q_OS_UNIX
    const int descriptor = static_cast<int>(port_.handle());
    if (descriptor < 0)
        return false;
    pollfd watched{descriptor, POLLIN, 0};
    if (::poll(&watched, 1, 0) <= 0)
        return false;
    if ((watched.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0)
        return false;
    // Bytes that arrived before the hang-up are still read first.
    int waiting = 0;
    return ::ioctl(descriptor, FIONREAD, &waiting) != 0 || waiting <= 0;
#else
    return false;
#endif
}

bool QtSerialComponent::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::SockAct && watched->parent() == &port_ && portOpen()
        && deviceHungUp()) {
        loseDevice();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void QtSerialComponent::setOutput(const std::string& bytes) {
    if (!portOpen())
        throw portNotOpenError(selectedPort_);
    if (bytes.empty())
        return;
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    qCDebug(lcWire).noquote() << "port" << openPortNumber_ << "->" << data.toHex(' ');
    const qint64 written = port_.write(data);
    if (written != data.size()) {
        PortFailure failure;
        failure.fault = faultOf(port_.error(), true);
        failure.port = openPortNumber_;
        failure.device = openDevice_;
        failure.systemMessage = port_.errorString().toStdString();
        port_.clearError();
        throw describePortFailure(failure);
    }
}

std::string QtSerialComponent::input() {
    if (port_.isOpen() && !losingDevice_ && port_.bytesAvailable() > 0)
        takeReceivedBytes();
    if (received_.empty())
        return {};
    const char byte = received_.front();
    received_.pop_front();
    ++bytesRead_;
    return std::string(1, byte);
}

std::int16_t QtSerialComponent::commEvent() const {
    return commEvent_;
}

void QtSerialComponent::takeReceivedBytes() {
    const QByteArray data = port_.readAll();
    if (data.isEmpty())
        return;
    qCDebug(lcWire).noquote() << "port" << openPortNumber_ << "<-" << data.toHex(' ');
    received_.insert(received_.end(), data.begin(), data.end());
    scheduleNotification();
}

void QtSerialComponent::scheduleNotification() {
    if (notificationPending_ || received_.empty() || !portOpen())
        return;
    notificationPending_ = true;
    QMetaObject::invokeMethod(this, &QtSerialComponent::deliverNotification, Qt::QueuedConnection);
}

void QtSerialComponent::deliverNotification() {
    notificationPending_ = false;
    if (received_.empty() || !portOpen())
        return;
    runCommHandler();
}

void QtSerialComponent::runCommHandler() {
    commEvent_ = comm_event::Receive;
    const std::uint64_t readBefore = bytesRead_;
    const QPointer<QtSerialComponent> alive(this);
    // A copy, so that a handler may replace itself while it runs.
    const CommHandler handler = onComm();
    if (handler) {
        try {
            handler();
        } catch (const automation::RuntimeError& error) {
            if (!alive)
                return;
            qCWarning(lcSerial).noquote() << "The receive handler failed with error"
                                          << error.number() << error.description().c_str();
            reportError(error);
        } catch (const std::exception& error) {
            if (!alive)
                return;
            qCWarning(lcSerial).noquote() << "The receive handler failed:" << error.what();
            reportError(automation::RuntimeError(automation::error_number::InvalidProcedureCall,
                                                 std::string("The receive handler failed: ")
                                                     + error.what()));
        }
    }
    if (!alive)
        return;
    // A handler that read nothing is not called again for the same bytes: it would only be
    // called again and again without end. The next byte to arrive brings a new notification.
    if (bytesRead_ != readBefore)
        scheduleNotification();
}

void QtSerialComponent::reportError(const automation::RuntimeError& error) {
    const ErrorHandler handler = onError();
    if (!handler) {
        qCWarning(lcSerial).noquote() << "No error handler for error" << error.number()
                                      << error.description().c_str();
        return;
    }
    try {
        handler(error);
    } catch (const std::exception& failure) {
        qCWarning(lcSerial).noquote() << "The error handler itself failed:" << failure.what();
    }
}

void QtSerialComponent::handlePortError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
    // Raised for modem-line and similar requests a device does not support (a pseudo-terminal
    // has no DTR); the port works without them.
    case QSerialPort::UnsupportedOperationError:
        return;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        if (!opening_)
            loseDevice();
        return;
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::UnknownError:
        // While opening, open()'s result decides; otherwise the port still works.
        if (!opening_) {
            qCWarning(lcSerial).noquote() << "Serial port" << openPortNumber_
                                          << openDevice_.c_str() << "reported:" << port_.errorString();
        }
        return;
    }
}

void QtSerialComponent::loseDevice() {
    if (!portOpen())
        return;
    losingDevice_ = true;
    commEvent_ = comm_event::DeviceLost;
    // Quiet the port's notifiers now; QSerialPort would otherwise be woken again at once. The
    // port itself is closed from the event loop, outside the notifier that is reporting.
    for (QSocketNotifier* notifier : port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly))
        notifier->setEnabled(false);

    const automation::RuntimeError error = deviceLostError(openPortNumber_, openDevice_);
    qCWarning(lcSerial).noquote() << QString::fromStdString(error.description());
    QMetaObject::invokeMethod(
        this,
        [this, error, session = openSession_] {
            if (session == openSession_)
                closePort();
            reportError(error);
        },
        Qt::QueuedConnection);
}

}  // namespace quenvar::serial
