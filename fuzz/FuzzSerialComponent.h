#pragma once
// A serial component the fuzz input drives: received bytes arrive when the input says so,
// every write is shown to an observer before it counts, and writes or opens can be made to
// fail the way a real port fails (with a run-time error).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/automation/RuntimeError.h"
#include "platform/serial/SerialComponent.h"

namespace quenvar::fuzz {

class FuzzSerialComponent : public serial::SerialComponent {
public:
    // Sees each write that goes through, in order.
    std::function<void(const std::string&)> onWrite;
    std::optional<automation::RuntimeError> writeError;  // raised by every write while set
    std::optional<automation::RuntimeError> openError;   // raised by opening while set
    std::string unread;
    bool readWholeBuffer = false;  // one read returns everything waiting
    int reads = 0;

    static constexpr std::int16_t lastPort = 4;

    void setCommPort(std::int16_t value) override {
        if (value < 1 || value > lastPort) {
            throw automation::RuntimeError(automation::error_number::InvalidPortNumber, "Invalid port number");
        }
        port_ = value;
    }
    std::int16_t commPort() const override { return port_; }
    void setPortOpen(bool value) override {
        if (value && openError) throw *openError;
        open_ = value;
    }
    bool portOpen() const override { return open_; }
    void setOutput(const std::string& bytes) override {
        if (writeError) throw *writeError;
        if (onWrite) onWrite(bytes);
    }
    std::string input() override {
        ++reads;
        const std::size_t taken = readWholeBuffer ? unread.size() : std::min<std::size_t>(1, unread.size());
        std::string text = unread.substr(0, taken);
        unread.erase(0, taken);
        return text;
    }
    std::int16_t commEvent() const override { return event_; }

    // Raises OnComm with `reason`, as the component's event loop would. A run-time error that
    // ends the handler goes to the error handler when there is one, else to the caller.
    void notify(std::int16_t reason) {
        event_ = reason;
        if (!onComm()) return;
        try {
            onComm()();
        } catch (const automation::RuntimeError& error) {
            if (!onError()) throw;
            onError()(error);
        }
    }

private:
    std::int16_t port_ = 1;
    bool open_ = false;
    std::int16_t event_ = serial::comm_event::None;
};

}  // namespace quenvar::fuzz
