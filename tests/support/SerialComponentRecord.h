#pragma once
// What a serial component tells its owner, heard the way the control's receive handler hears
// it: each notification's event with one byte read per notification, and every error reported.
// Shared by the tests of the component on Linux and on Windows.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/automation/RuntimeError.h"
#include "platform/serial/SerialComponent.h"

namespace quenvar::testing {

struct SerialComponentRecord {
    void listenTo(serial::SerialComponent& component) {
        component.setOnComm([this, &component] {
            events.push_back(component.commEvent());
            reads += component.input();
        });
        component.setOnError([this](const automation::RuntimeError& error) { errors.push_back(error); });
    }

    std::vector<std::int16_t> events;
    std::string reads;
    std::vector<automation::RuntimeError> errors;
};

// Every byte value once, in ascending order: what the wire must carry unchanged.
inline std::string allByteValues() {
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
    return bytes;
}

}  // namespace quenvar::testing
