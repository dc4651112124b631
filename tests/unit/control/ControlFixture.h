#pragma once
// A control wired to a scripted serial component and recorded message boxes.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/Quenvar.h"
#include "tests/support/HexBytes.h"
#include "tests/support/QueuedBytes.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/ScriptedSerialComponent.h"

namespace quenvar::testing {

// Bytes arriving from the interface (in hex, one notification each), or a call of the host.
struct Step {
    const char* arriving = nullptr;
    std::function<void(control::Quenvar&)> call;
};
inline Step arrive(const char* bytesInHex) { return {bytesInHex, {}}; }
inline Step host(std::function<void(control::Quenvar&)> call) { return {nullptr, std::move(call)}; }

class ControlFixture : public ::testing::Test {
protected:
    ControlFixture() {
        auto component = std::make_unique<ScriptedSerialComponent>();
        port = component.get();
        control = std::make_unique<control::Quenvar>(std::move(component), boxes);
        control->setX10readyHandler([this] {
            ++readyEvents;
            stateDuringReady = control->comstatus();
            sendstatusDuringReady = control->sendstatus();
            if (onReady) {
                onReady();
            }
        });
        control->setX10receivedHandler([this](const control::HeardFunction& function) {
            heard.push_back(function);
            if (onHeard) {
                onHeard(function);
            }
        });
    }

    void openPort() { control->openx10(1); }

    void play(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            if (step.arriving) {
                port->receive(hex(step.arriving));
            } else {
                step.call(*control);
            }
        }
    }

    std::string queued() { return queuedBytes(control->colstring()); }

    void queuePair(int header, int code) {
        control->colstring()->add(automation::Variant::fromText(bytes({header})));
        control->colstring()->add(automation::Variant::fromText(bytes({code})));
    }

    RecordingMessageBoxes boxes;
    ScriptedSerialComponent* port = nullptr;
    std::unique_ptr<control::Quenvar> control;
    int readyEvents = 0;
    std::int16_t stateDuringReady = -1;
    bool sendstatusDuringReady = true;
    std::function<void()> onReady;
    std::vector<control::HeardFunction> heard;  // every x10received, in order
    std::function<void(const control::HeardFunction&)> onHeard;
};

}  // namespace quenvar::testing
