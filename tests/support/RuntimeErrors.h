#pragma once
// Runs a call and reports the run-time error it raised, so a check (or a table row) can name
// the expected error number: 0, or nothing, when the call returned normally.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/automation/RuntimeError.h"

namespace quenvar::testing {

struct RaisedError {
    std::int32_t number = 0;
    std::string description;
};

template <typename Call>
RaisedError errorOf(Call&& call) {
    try {
        std::forward<Call>(call)();
    } catch (const automation::RuntimeError& error) {
        return {error.number(), error.description()};
    }
    return {};
}

template <typename Call>
std::int32_t errorNumberOf(Call&& call) {
    return errorOf(std::forward<Call>(call)).number;
}

// The whole error object, for checks on more than its number and text.
template <typename Call>
std::optional<automation::RuntimeError> errorFrom(Call&& call) {
    try {
        std::forward<Call>(call)();
    } catch (const automation::RuntimeError& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace quenvar::testing
