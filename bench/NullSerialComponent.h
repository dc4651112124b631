#pragma once
// A serial component with nothing behind it: the port opens, every written byte is counted and
// dropped, and bytes "arrive" when the benchmark hands them in, each with its own notification
// run at once, as the real component's notifications would run from the event loop.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/serial/SerialComponent.h"

namespace quenvar::bench {

class NullSerialComponent : public serial::SerialComponent {
public:
    std::size_t bytesWritten = 0;

    void setCommPort(std::int16_t port) override { port_ = port; }
    std::int16_t commPort() const override { return port_; }
    void setPortOpen(bool open) override { open_ = open; }
    bool portOpen() const override { return open_; }
    void setOutput(const std::string& bytes) override { bytesWritten += bytes.size(); }
    std::string input() override {
        if (!pending_) return {};
        pending_ = false;
        return std::string(1, static_cast<char>(byte_));
    }
    std::int16_t commEvent() const override { return serial::comm_event::Receive; }

    // One byte arrives and the receive handler runs for it.
    void receive(std::uint8_t byte) {
        byte_ = byte;
        pending_ = true;
        if (onComm()) onComm()();
    }

private:
    std::int16_t port_ = 0;
    bool open_ = false;
    bool pending_ = false;
    std::uint8_t byte_ = 0;
};

}  // namespace quenvar::bench
