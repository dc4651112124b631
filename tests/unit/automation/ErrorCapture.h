#pragma once
// Runs a call and reports the run-time error it raised, so table rows can name the expected
// error number (0 when the call must succeed).

#include <cstdint>
#include <string>

#include "platform/automation/RuntimeError.h"

namespace quenvar::automation::testing_support {

struct RaisedError {
    std::int32_t number = 0;
    std::string description;
};

template <typename Call>
RaisedError errorOf(Call call) {
    try {
        call();
    } catch (const RuntimeError& error) {
        return {error.number(), error.description()};
    }
    return {};
}

template <typename Call>
std::int32_t errorNumberOf(Call call) {
    return errorOf(call).number;
}

}  // namespace quenvar::automation::testing_support
