#pragma once
// Wraps the control's serial component and times each handshake step: from the first byte the
// control writes while nothing is outstanding to the moment the receive handler has finished
// with the byte that answers it. Bytes written by the handler itself start the next step.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/serial/SerialComponent.h"

namespace quenvar::bench {

class StepTimingSerialComponent : public serial::SerialComponent {
public:
    using Clock = std::chrono::steady_clock;

    explicit StepTimingSerialComponent(std::unique_ptr<serial::SerialComponent> inner) : inner_(std::move(inner)) {
        inner_->setOnComm([this] { handleNotification(); });
        inner_->setOnError([this](const automation::RuntimeError& error) {
            if (onError()) onError()(error);
        });
    }

    // Step durations in microseconds, in the order the steps ended.
    std::vector<double> steps;

    void setCommPort(std::int16_t port) override { inner_->setCommPort(port); }
    std::int16_t commPort() const override { return inner_->commPort(); }
    void setPortOpen(bool open) override { inner_->setPortOpen(open); }
    bool portOpen() const override { return inner_->portOpen(); }
    void setOutput(const std::string& bytes) override {
        if (!stepStart_) stepStart_ = Clock::now();
        inner_->setOutput(bytes);
    }
    std::string input() override { return inner_->input(); }
    std::int16_t commEvent() const override { return inner_->commEvent(); }

private:
    void handleNotification() {
        const auto waitingSince = std::exchange(stepStart_, std::nullopt);
        if (onComm()) onComm()();
        if (waitingSince) {
            steps.push_back(std::chrono::duration<double, std::micro>(Clock::now() - *waitingSince).count());
        }
    }

    std::unique_ptr<serial::SerialComponent> inner_;
    std::optional<Clock::time_point> stepStart_;
};

}  // namespace quenvar::bench
