#include "platform/serial/SerialComponentBase.h"

#include <exception>
#include <utility>

#include "platform/serial/PortErrors.h"
#include "platform/serial/PortMap.h"

namespace quenvar::serial {

void SerialComponentBase::setCommPort(std::int16_t port) {
    checkPortNumber(port);
    selectedPort_ = port;
}

std::int16_t SerialComponentBase::commPort() const { return selectedPort_; }

void SerialComponentBase::setPortOpen(bool open) {
    if (open)
        openSelectedPort();
    else
        closePort();
}

bool SerialComponentBase::portOpen() const { return openPortNumber_ != 0 && !deviceLost_; }

std::string SerialComponentBase::openDevice() const { return portOpen() ? openDevice_ : std::string(); }

std::size_t SerialComponentBase::bytesWaiting() const { return received_.size(); }

void SerialComponentBase::openSelectedPort() {
    const std::string device = deviceForPort(selectedPort_);
    if (portOpen() && openPortNumber_ == selectedPort_) return;
    closePort();

    if (!received_.empty()) {
        log(LogLevel::Debug,
            "Discarding " + std::to_string(received_.size()) + " bytes left unread from the previous session");
        received_.clear();
    }

    attachDevice(selectedPort_, device);
    openPortNumber_ = selectedPort_;
    openDevice_ = device;
}

void SerialComponentBase::closePort() {
    if (openPortNumber_ == 0) return;
    detachDevice();
    openPortNumber_ = 0;
    openDevice_.clear();
    deviceLost_ = false;
}

void SerialComponentBase::setOutput(const std::string& bytes) {
    if (!portOpen()) throw portNotOpenError(selectedPort_);
    if (bytes.empty()) return;
    writeToDevice(bytes);
}

std::string SerialComponentBase::input() {
    collectBytesWaitingInDevice();
    if (received_.empty()) return {};
    const char byte = received_.front();
    received_.pop_front();
    ++bytesRead_;
    return std::string(1, byte);
}

std::int16_t SerialComponentBase::commEvent() const { return commEvent_; }

void SerialComponentBase::storeReceivedBytes(const char* bytes, std::size_t count) {
    received_.insert(received_.end(), bytes, bytes + count);
}

void SerialComponentBase::scheduleNotification() {
    if (notificationPending_ || received_.empty() || !portOpen()) return;
    notificationPending_ = postNotification();
}

void SerialComponentBase::deliverNotification() {
    notificationPending_ = false;
    if (received_.empty() || !portOpen()) return;
    runCommHandler();
}

void SerialComponentBase::runCommHandler() {
    commEvent_ = comm_event::Receive;
    const std::uint64_t readBefore = bytesRead_;
    const std::weak_ptr<char> alive = lifetime_;
    // A copy, so that a handler may replace itself while it runs.
    const CommHandler handler = onComm();
    if (handler) {
        try {
            handler();
        } catch (const automation::RuntimeError& error) {
            if (alive.expired()) return;
            log(LogLevel::Warning,
                "The receive handler failed with error " + std::to_string(error.number()) + ": " + error.description());
            reportError(error);
        } catch (const std::exception& error) {
            if (alive.expired()) return;
            const std::string description = std::string("The receive handler failed: ") + error.what();
            log(LogLevel::Warning, description);
            reportError(automation::RuntimeError(automation::error_number::InvalidProcedureCall, description));
        }
    }
    if (alive.expired()) return;
    // A handler that read nothing is not called again for the same bytes: it would only be
    // called again and again without end. The next byte to arrive brings a new notification.
    if (bytesRead_ != readBefore) scheduleNotification();
}

void SerialComponentBase::reportError(const automation::RuntimeError& error) {
    const ErrorHandler handler = onError();
    if (!handler) {
        log(LogLevel::Warning,
            "No error handler for error " + std::to_string(error.number()) + ": " + error.description());
        return;
    }
    try {
        handler(error);
    } catch (const std::exception& failure) {
        log(LogLevel::Warning, std::string("The error handler itself failed: ") + failure.what());
    }
}

void SerialComponentBase::loseDevice() {
    if (!portOpen()) return;
    deviceLost_ = true;
    commEvent_ = comm_event::DeviceLost;
    const automation::RuntimeError error = deviceLostError(openPortNumber_, openDevice_);
    log(LogLevel::Warning, error.description());
    closeLostPort(error);
}

void SerialComponentBase::closeLostPort(const automation::RuntimeError& error) {
    closePort();
    reportError(error);
}

automation::RuntimeError SerialComponentBase::loseDeviceUnderCall() {
    const automation::RuntimeError error = deviceLostError(openPortNumber_, openDevice_);
    closePort();
    commEvent_ = comm_event::DeviceLost;
    return error;
}

}  // namespace quenvar::serial
