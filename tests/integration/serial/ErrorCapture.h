#pragma once

#include <optional>
#include <utility>

#include "platform/automation/RuntimeError.h"

namespace quenvar::serial::testing {

// The run-time error a call raised, or nothing when it returned normally.
template <typename Call>
std::optional<automation::RuntimeError> errorFrom(Call&& call) {
    try {
        std::forward<Call>(call)();
    } catch (const automation::RuntimeError& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace quenvar::serial::testing
