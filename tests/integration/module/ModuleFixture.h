#pragma once
// The module as a host meets it: loaded from its file, registered in a registry of the test's
// own, and its control created by ProgID. The test program does not link the control's code.

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include <string>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/ObjectCreation.h"

namespace quenvar::testing {

inline const std::string modulePath = QUENVAR_MODULE_PATH;
inline constexpr const char* progId = "Zelvo.quenvar";

// A fresh registry folder named by QUENVAR_REGISTRY for the length of a test.
class ModuleFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registryFolder.isValid());
        qputenv("QUENVAR_REGISTRY", registryFolder.path().toUtf8());
        module = std::make_unique<automation::ServerModule>(automation::ServerModule::load(modulePath));
    }
    void TearDown() override { qunsetenv("QUENVAR_REGISTRY"); }

    automation::ClassRegistry registry() const { return automation::ClassRegistry::standard(); }

    void registerModule() {
        ASSERT_EQ(module->registerServer()(), automation::server_status::Ok) << automation::lastServerError();
    }

    QTemporaryDir registryFolder;
    std::unique_ptr<automation::ServerModule> module;
};

// The control as a host creates it by ProgID, its port 1 leading to `device` (through
// QUENVAR_COMM1), with every x10ready counted; closed and let go after the test.
class CreatedControlFixture : public ModuleFixture {
protected:
    void createControlOn(const QString& device) {
        qputenv("QUENVAR_COMM1", device.toUtf8());
        registerModule();
        control = automation::createObject(progId);
        auto* container = dynamic_cast<automation::ConnectionPointContainer*>(control.get());
        ASSERT_NE(container, nullptr);
        events = container->findConnectionPoint(control::identifiers::quenvarEvents);
        ASSERT_NE(events, nullptr);
        ASSERT_EQ(events->eventInterface().name, "__quenvar");
        cookie = events->advise(std::make_shared<automation::EventSink>(
            events->eventInterface(), [this](automation::MemberId id, std::span<automation::Variant>) {
                if (id == control::event::x10ready) ++readyEvents;
            }));
    }
    void TearDown() override {
        if (events != nullptr) events->unadvise(cookie);
        if (control) control->call(control::member::closex10);
        qunsetenv("QUENVAR_COMM1");
        ModuleFixture::TearDown();
    }

    automation::ObjectRef control;
    automation::ConnectionPoint* events = nullptr;
    automation::ConnectionPoint::Cookie cookie = 0;
    int readyEvents = 0;
};

}  // namespace quenvar::testing
