#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "TemporaryFolder.h"
#include "TestServerIds.h"
#include "platform/automation/ObjectCreation.h"
#include "platform/automation/TypeInfo.h"
#include "tests/support/ClassRecords.h"
#include "tests/support/RuntimeErrors.h"

namespace qa = quenvar::automation;
namespace en = quenvar::automation::error_number;
namespace fs = std::filesystem;
using qa::Variant;
using qa::testing_support::ScopedEnvironment;
using qa::testing_support::TemporaryFolder;
using quenvar::testing::errorOf;

namespace {

const std::string serverModule = QUENVAR_TEST_SERVER_MODULE;
const std::string emptyModule = QUENVAR_TEST_EMPTY_MODULE;
const std::string regsvrTool = QUENVAR_REGSVR_TOOL;

std::string canonical(const std::string& path) { return fs::weakly_canonical(path).string(); }

// Each test gets its own registry folders, the user's and the system-wide one, named by
// QUENVAR_REGISTRY and QUENVAR_SYSTEM_REGISTRY as the tool and the server's entry points see them.
class ModuleLoading : public testing::Test {
protected:
    TemporaryFolder folder;
    ScopedEnvironment registryVariable{"QUENVAR_REGISTRY", folder.path().string()};
    ScopedEnvironment systemRegistryVariable{"QUENVAR_SYSTEM_REGISTRY", (folder.path() / "system").string()};
    qa::ClassRegistry registry{folder.path()};
    qa::ClassRegistry systemRegistry{folder.path() / "system"};

    void registerServer() {
        const auto module = qa::ServerModule::load(serverModule);
        ASSERT_EQ(module.registerServer()(), qa::server_status::Ok) << qa::lastServerError();
    }
    qa::ClassRecord recordPointingAt(const std::string& modulePath, const char* progId) {
        qa::ClassRecord record;
        record.className = "Greeter";
        record.progId = progId;
        record.clsid = test_server::greeterClsid;
        record.modulePath = modulePath;
        return record;
    }
};

TEST_F(ModuleLoading, RegistrationRecordsEveryClassOfTheModule) {
    registerServer();
    const auto greeter = registry.findByProgId(test_server::greeterProgId);
    ASSERT_TRUE(greeter.has_value());
    quenvar::testing::expectClassRecord(*greeter, {.className = "Greeter",
                                                   .progId = test_server::greeterProgId,
                                                   .clsid = test_server::greeterClsid,
                                                   .modulePath = canonical(serverModule),
                                                   .defaultInterfaceName = "_Greeter",
                                                   .defaultInterfaceIid = test_server::greeterIid,
                                                   .eventInterfaceName = "__Greeter",
                                                   .eventInterfaceIid = test_server::greeterEventsIid,
                                                   .hasEvents = true,
                                                   .typeLibraryName = "GreeterLib",
                                                   .typeLibraryMajor = 2,
                                                   .typeLibraryMinor = 3,
                                                   .typeLibraryId = test_server::libraryId,
                                                   .isControl = true,
                                                   .toolboxBitmap = 30000,
                                                   .miscStatus = 0x20191});

    const auto broken = registry.findByClassId(test_server::brokenClsid);
    ASSERT_TRUE(broken.has_value());
    EXPECT_FALSE(broken->hasEvents);
    EXPECT_FALSE(broken->isControl);

    const auto module = qa::ServerModule::load(serverModule);
    ASSERT_EQ(module.unregisterServer()(), qa::server_status::Ok);
    EXPECT_TRUE(registry.records().empty());
}

TEST_F(ModuleLoading, CreatesObjectsByProgIdAndCountsThem) {
    registerServer();
    const auto module = qa::ServerModule::load(serverModule);
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::Ok);

    qa::ObjectRef greeter = qa::createObject("automation.testgreeter");
    ASSERT_NE(greeter, nullptr);
    EXPECT_EQ(greeter->call(test_server::greetId, {Variant::fromText("Hello")}), Variant::fromText("Hello, world"));
    greeter->put(test_server::nameId, Variant::fromInt16(16));
    EXPECT_EQ(greeter->call(test_server::greetId, {Variant::fromText("Hi")}), Variant::fromText("Hi, 16"));
    EXPECT_EQ(greeter->idOfName("GREET"), test_server::greetId);

    auto* described = dynamic_cast<qa::ClassInfoProvider*>(greeter.get());
    ASSERT_NE(described, nullptr);
    EXPECT_EQ(described->classInfo().clsid, test_server::greeterClsid);
    EXPECT_EQ(described->typeLibrary().library.name, "GreeterLib");

    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::False);
    qa::ObjectRef second = qa::createObject(test_server::greeterProgId, registry);
    qa::ObjectRef copy = greeter;
    greeter.reset();
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::False);  // copy and second still live
    copy.reset();
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::False);
    second.reset();
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::Ok);
}

TEST_F(ModuleLoading, FactoryLocksKeepTheModuleInUse) {
    const auto module = qa::ServerModule::load(serverModule);
    std::shared_ptr<qa::ClassFactory> factory;
    ASSERT_EQ(module.getClassObject()(&test_server::greeterClsid, &factory), qa::server_status::Ok);
    ASSERT_NE(factory, nullptr);
    factory->lockServer(true);
    factory->lockServer(true);
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::False);
    factory->lockServer(false);
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::False);
    factory->lockServer(false);
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::Ok);
    factory->lockServer(false);  // one unlock too many must not wrap the count around
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::Ok);
    factory->lockServer(true);
    factory.reset();  // locks belong to the module, not the factory
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::False);
    ASSERT_EQ(module.getClassObject()(&test_server::greeterClsid, &factory), qa::server_status::Ok);
    factory->lockServer(false);
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::Ok);
}

TEST_F(ModuleLoading, TheClassObjectEntryPointAnswersWithStatuses) {
    const auto module = qa::ServerModule::load(serverModule);
    std::shared_ptr<qa::ClassFactory> factory;
    const qa::Guid unknown = qa::Guid::parse("{00000000-0000-0000-0000-00000000ABCD}");
    EXPECT_EQ(module.getClassObject()(&unknown, &factory), qa::server_status::ClassNotAvailable);
    EXPECT_NE(qa::lastServerError().find("{00000000-0000-0000-0000-00000000ABCD}"), std::string::npos)
        << qa::lastServerError();
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(module.getClassObject()(nullptr, &factory), qa::server_status::NullPointer);
    EXPECT_EQ(module.getClassObject()(&test_server::greeterClsid, nullptr), qa::server_status::NullPointer);
}

TEST_F(ModuleLoading, UnknownProgIdSaysWhereItLookedAndHowToRegister) {
    const auto raised = errorOf([] { qa::createObject("Zelvo.nothing"); });
    EXPECT_EQ(raised.number, en::CannotCreateObject);
    EXPECT_NE(raised.description.find("Zelvo.nothing"), std::string::npos) << raised.description;
    EXPECT_NE(raised.description.find(folder.path().string()), std::string::npos) << raised.description;
    EXPECT_NE(raised.description.find("quenvar-regsvr"), std::string::npos) << raised.description;
}

TEST_F(ModuleLoading, MissingModuleFileIsNamed) {
    const std::string missing = (folder.path() / "gone" / "greeter.ocx").string();
    registry.registerClass(recordPointingAt(missing, "Automation.Gone"));
    const auto raised = errorOf([] { qa::createObject("Automation.Gone"); });
    EXPECT_EQ(raised.number, en::CannotCreateObject);
    EXPECT_NE(raised.description.find(missing), std::string::npos) << raised.description;
    EXPECT_NE(raised.description.find("does not exist"), std::string::npos) << raised.description;
}

TEST_F(ModuleLoading, AFileThatIsNoModuleGivesTheLoadersReason) {
    const std::string notModule = (folder.path() / "text.ocx").string();
    std::ofstream(notModule) << "plain text";
    registry.registerClass(recordPointingAt(notModule, "Automation.Text"));
    const auto raised = errorOf([] { qa::createObject("Automation.Text"); });
    EXPECT_EQ(raised.number, en::CannotCreateObject);
    EXPECT_NE(raised.description.find("cannot be loaded"), std::string::npos) << raised.description;
    EXPECT_NE(raised.description.find(notModule), std::string::npos) << raised.description;
}

bool isMapped(const fs::path& file) {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return text.find(file.string()) != std::string::npos;
}

// A module named by a record is loaded only when it is a shared library that nobody but its
// owner can change; anything else is named and nothing of it is loaded.
TEST_F(ModuleLoading, UntrustedModulePathsAreRefusedAndNotLoaded) {
    struct Case {
        const char* name;
        std::function<fs::path(const fs::path& scratch)> prepare;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"writable by every user",
         [](const fs::path& scratch) {
             const fs::path copy = scratch / "greeter.ocx";
             fs::copy_file(serverModule, copy);
             fs::permissions(copy, fs::perms::others_write, fs::perm_options::add);
             return copy;
         },
         "chmod o-w"},
        {"in a folder every user may write",
         [](const fs::path& scratch) {
             const fs::path open = scratch / "open";
             fs::create_directory(open);
             fs::permissions(open, fs::perms::all);
             const fs::path copy = open / "greeter.ocx";
             fs::copy_file(serverModule, copy);
             return copy;
         },
         "every user may replace it"},
        {"a folder",
         [](const fs::path& scratch) {
             fs::create_directory(scratch / "folder.ocx");
             return scratch / "folder.ocx";
         },
         "not a regular file"},
        {"a pipe",
         [](const fs::path& scratch) {
             const fs::path pipe = scratch / "pipe.ocx";
             if (mkfifo(pipe.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
             return pipe;
         },
         "not a regular file"},
        {"a link to a writable copy",
         [](const fs::path& scratch) {
             const fs::path copy = scratch / "writable.ocx";
             fs::copy_file(serverModule, copy);
             fs::permissions(copy, fs::perms::others_write, fs::perm_options::add);
             fs::create_symlink(copy, scratch / "link.ocx");
             return scratch / "link.ocx";
         },
         "chmod o-w"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryFolder scratch;
        const fs::path module = c.prepare(scratch.path());
        registry.registerClass(recordPointingAt(module.string(), "Automation.Untrusted"));
        const auto raised = errorOf([] { qa::createObject("Automation.Untrusted"); });
        EXPECT_EQ(raised.number, en::CannotCreateObject);
        EXPECT_NE(raised.description.find(c.expected), std::string::npos) << raised.description;
        EXPECT_NE(raised.description.find(scratch.path().string()), std::string::npos) << raised.description;
        EXPECT_FALSE(isMapped(fs::weakly_canonical(module))) << raised.description;
    }
}

TEST_F(ModuleLoading, ModuleWithoutEntryPointsNamesTheMissingOne) {
    registry.registerClass(recordPointingAt(emptyModule, "Automation.Empty"));
    const auto raised = errorOf([] { qa::createObject("Automation.Empty"); });
    EXPECT_EQ(raised.number, en::CannotCreateObject);
    EXPECT_NE(raised.description.find("DllRegisterServer"), std::string::npos) << raised.description;
    EXPECT_NE(raised.description.find(emptyModule), std::string::npos) << raised.description;
}

TEST_F(ModuleLoading, ClassTheModuleDoesNotServe) {
    qa::ClassRecord record = recordPointingAt(serverModule, "Automation.Stranger");
    record.clsid = qa::Guid::parse("{00000000-0000-0000-0000-00000000BEEF}");
    registry.registerClass(record);
    const auto raised = errorOf([] { qa::createObject("Automation.Stranger"); });
    EXPECT_EQ(raised.number, en::CannotCreateObject);
    EXPECT_NE(raised.description.find("0x80040111"), std::string::npos) << raised.description;
    EXPECT_NE(raised.description.find("{00000000-0000-0000-0000-00000000BEEF}"), std::string::npos)
        << raised.description;
}

TEST_F(ModuleLoading, AClassThatFailsToCreateExplainsWhy) {
    registerServer();
    const auto raised = errorOf([] { qa::createObject(test_server::brokenProgId); });
    EXPECT_EQ(raised.number, en::CannotCreateObject);
    EXPECT_NE(raised.description.find("no greeting device"), std::string::npos) << raised.description;
    const auto module = qa::ServerModule::load(serverModule);
    EXPECT_EQ(module.canUnloadNow()(), qa::server_status::Ok);
}

struct ToolRun {
    int exitCode;
    std::string output;
};

ToolRun runTool(const std::string& arguments) {
    const std::string command = "'" + regsvrTool + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, "cannot start " + command};
    std::string output;
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) output += buffer.data();
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST_F(ModuleLoading, RegistrationToolRegistersAndUnregisters) {
    const ToolRun registered = runTool("'" + serverModule + "'");
    EXPECT_EQ(registered.exitCode, 0) << registered.output;
    EXPECT_NE(registered.output.find("registered"), std::string::npos) << registered.output;
    EXPECT_NE(registered.output.find(folder.path().string()), std::string::npos) << registered.output;
    const auto record = registry.findByProgId(test_server::greeterProgId);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->modulePath, canonical(serverModule));

    const ToolRun unregistered = runTool("-u '" + serverModule + "'");
    EXPECT_EQ(unregistered.exitCode, 0) << unregistered.output;
    EXPECT_NE(unregistered.output.find("unregistered"), std::string::npos) << unregistered.output;
    EXPECT_TRUE(registry.records().empty());
}

// Registered system-wide, the class is created for a user whose own registry does not have it.
TEST_F(ModuleLoading, RegistrationToolRegistersSystemWide) {
    const ToolRun registered = runTool("--system '" + serverModule + "'");
    EXPECT_EQ(registered.exitCode, 0) << registered.output;
    EXPECT_NE(registered.output.find(systemRegistry.folder().string()), std::string::npos) << registered.output;
    EXPECT_TRUE(registry.records().empty());
    const auto record = systemRegistry.findByProgId(test_server::greeterProgId);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->modulePath, canonical(serverModule));
    EXPECT_TRUE(qa::createObject(test_server::greeterProgId));

    const ToolRun unregistered = runTool("-u --system '" + serverModule + "'");
    EXPECT_EQ(unregistered.exitCode, 0) << unregistered.output;
    EXPECT_TRUE(systemRegistry.records().empty());
    const auto raised = errorOf([] { qa::createObject(test_server::greeterProgId); });
    EXPECT_EQ(raised.number, en::CannotCreateObject);
    for (const fs::path& searched : {registry.folder(), systemRegistry.folder()}) {
        EXPECT_NE(raised.description.find(searched.string()), std::string::npos) << raised.description;
    }
}

TEST_F(ModuleLoading, RegistrationToolExplainsFailures) {
    const ToolRun noModule = runTool("");
    EXPECT_NE(noModule.exitCode, 0);
    EXPECT_NE(noModule.output.find("usage"), std::string::npos) << noModule.output;

    const std::string missing = (folder.path() / "missing.ocx").string();
    const ToolRun absent = runTool("'" + missing + "'");
    EXPECT_NE(absent.exitCode, 0);
    EXPECT_NE(absent.output.find(missing), std::string::npos) << absent.output;

    const ToolRun empty = runTool("'" + emptyModule + "'");
    EXPECT_NE(empty.exitCode, 0);
    EXPECT_NE(empty.output.find("DllRegisterServer"), std::string::npos) << empty.output;

    // A registry folder that cannot be created: the module's failing status and its reason.
    const fs::path blocker = folder.path() / "blocker";
    std::ofstream(blocker) << "x";
    ScopedEnvironment unwritable("QUENVAR_REGISTRY", (blocker / "registry").string());
    const ToolRun refused = runTool("'" + serverModule + "'");
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.output.find("0x80040201"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find(blocker.string()), std::string::npos) << refused.output;
}

}  // namespace
