#pragma once
// What a control's send queue holds, as the bytes it will send: every entry's text, front first.

#include <cstdint>
#include <string>

#include "platform/automation/Collection.h"

namespace quenvar::testing {

inline std::string queuedBytes(const automation::CollectionRef& queue) {
    std::string all;
    for (std::int32_t i = 1; i <= queue->count(); ++i) {
        all += queue->item(i).toText();
    }
    return all;
}

}  // namespace quenvar::testing
