#pragma once
// A quenvar control object wired to a scripted serial component and recorded message boxes,
// called the way hosts call it: by member id with variants.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/QuenvarControl.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/Collection.h"
#include "tests/support/QueuedBytes.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/RuntimeErrors.h"
#include "tests/support/ScriptedSerialComponent.h"

namespace quenvar::testing {

class SurfaceFixture : public ::testing::Test {
protected:
    SurfaceFixture() {
        auto component = std::make_unique<ScriptedSerialComponent>();
        port = component.get();
        control = std::make_shared<control::QuenvarControl>(std::move(component), boxes);
    }

    automation::Variant call(automation::MemberId id, std::vector<automation::Variant> args = {}) {
        return control->call(id, std::move(args));
    }

    std::string queued() { return queuedBytes(control->core().colstring()); }

    std::shared_ptr<RecordingMessageBoxes> boxes = std::make_shared<RecordingMessageBoxes>();
    ScriptedSerialComponent* port = nullptr;
    std::shared_ptr<control::QuenvarControl> control;
};

inline automation::Variant text(std::string value) { return automation::Variant::fromText(std::move(value)); }
inline automation::Variant int16(std::int16_t value) { return automation::Variant::fromInt16(value); }
inline automation::Variant int32(std::int32_t value) { return automation::Variant::fromInt32(value); }

}  // namespace quenvar::testing
