#pragma once
// A serial component driven by the test: it records every write separately, delivers
// received bytes when told to, and can be made to fail.

#include <cstdint>
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
    bool open = false;
    std::vector<std::string> writes;  // one entry per setOutput call
    std::string unread;               // received and not yet read
    std::int16_t event = serial::comm_event::None;
    bool wholeBufferPerRead = false;  // a read returns everything waiting, not one char
    std::optional<automation::RuntimeError> openError;
    std::optional<automation::RuntimeError> writeError;  // raised by every write while set
    int reads = 0;

    void setCommPort(std::int16_t value) override { port = value; }
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
        writes.push_back(data);
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
    void notify(std::int16_t reason) {
        event = reason;
        if (onComm()) {
            onComm()();
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
