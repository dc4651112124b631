#pragma once
// The module as a host meets it: loaded from its file, registered in a registry of the test's
// own, and its control created by ProgID. The test program does not link the control's code.

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include <string>

#include "platform/automation/ClassRegistry.h"
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

}  // namespace quenvar::testing
