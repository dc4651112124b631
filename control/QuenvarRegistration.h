#pragma once
// What registration records for the quenvar control, the same on every platform; each
// platform's module adds how it makes an instance.

#include <cstdint>
#include <utility>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarResources.h"
#include "platform/automation/ClassRegistration.h"

namespace quenvar::control {

// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE |
// SETCLIENTSITEFIRST: the control is visible at run time.
inline constexpr std::uint32_t quenvarMiscStatus = 0x20191;

template <class Create>
automation::BasicClassRegistration<Create> quenvarRegistration(Create create) {
    return {
        .clsid = identifiers::quenvarClass,
        .progId = "Zelvo.quenvar",
        .toolboxBitmap = resource::toolboxBitmapNumber,
        .miscStatus = quenvarMiscStatus,
        .threadingModel = "Apartment",
        .version = "1.0",
        .create = std::move(create),
    };
}

}  // namespace quenvar::control
