#pragma once
// The one fake serial component, for unit tests, fuzz targets and benchmarks: it records every
// write separately (or only counts them), delivers received bytes when told to, and can be made
// to fail the way a real port fails (with a run-time error).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial/SerialComponent.h"

namespace quenvar::testing {

// The bytes as a text of one char each.
inline std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (int v : values) {
        text.push_back(static_cast<char>(v));
    }
    return text;
}

class ScriptedSerialComponent : public serial::SerialComponent {
public:
    std::int16_t port = 0;
    std::optional<std::int16_t> highestPort;  // when set, other numbers than 1 to it are refused
    bool open = false;
    bool keepWrites = true;           // false: writes are only counted (long benchmark runs)
    std::vector<std::string> writes;  // one entry per setOutput call
    std::size_t bytesWritten = 0;
    std::function<void(const std::string&)> onWrite;  // sees each write that goes through
    std::string unread;                               // received and not yet read
    std::int16_t event = serial::comm_event::None;
    bool wholeBufferPerRead = false;  // a read returns everything waiting, not one char
    std::optional<automation::RuntimeError> openError;
    std::optional<automation::RuntimeError> writeError;  // raised by every write while set
    int reads = 0;

    void setCommPort(std::int16_t value) override {
        if (highestPort && (value < 1 || value > *highestPort)) {
            throw automation::RuntimeError(automation::error_number::InvalidPortNumber, "Invalid port number");
        }
        port = value;
    }
    std::int16_t commPort() const override { return port; }
    void setPortOpen(bool value) override {
        if (value && openError) {
            throw *openError;
        }
        open = value;
    }
    bool portOpen() const override { return open; }
    void setOutput(const std::string& data) override {
        if (writeError) {
            throw *writeError;
        }
        bytesWritten += data.size();
        if (keepWrites) {
            writes.push_back(data);
        }
        if (onWrite) {
            onWrite(data);
        }
    }
    std::string input() override {
        ++reads;
        const std::size_t n = wholeBufferPerRead ? unread.size() : std::min<std::size_t>(1, unread.size());
        std::string taken = unread.substr(0, n);
        unread.erase(0, n);
        return taken;
    }
    std::int16_t commEvent() const override { return event; }

    // Bytes arrive: one notification per byte, as the real component delivers them.
    void receive(const std::string& data) {
        for (char c : data) {
            unread.push_back(c);
            notify(serial::comm_event::Receive);
        }
    }
    // Bytes arrive together and the component notifies once.
    void receiveAtOnce(const std::string& data) {
        unread += data;
        notify(serial::comm_event::Receive);
    }
    // Raises OnComm with `reason`, as the component's event loop would. A run-time error that
    // ends the handler goes to the error handler when there is one, else to the caller.
    void notify(std::int16_t reason) {
        event = reason;
        if (!onComm()) {
            return;
        }
        try {
            onComm()();
        } catch (const automation::RuntimeError& error) {
            if (!onError()) {
                throw;
            }
            onError()(error);
        }
    }
    // An error that reaches no caller (a device gone while open), as the real component reports it.
    void reportUnreached(const automation::RuntimeError& error) {
        if (onError()) {
            onError()(error);
        }
    }

    // Every byte written since the last call, in order.
    std::string takeWritten() {
        std::string all;
        for (const auto& w : writes) {
            all += w;
        }
        writes.clear();
        return all;
    }
};

}  // namespace quenvar::testing
