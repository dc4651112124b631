#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "TemporaryFolder.h"
#include "platform/automation/ClassRegistry.h"
#include "tests/support/RuntimeErrors.h"

namespace qa = quenvar::automation;
namespace en = quenvar::automation::error_number;
namespace fs = std::filesystem;
using qa::testing_support::ScopedEnvironment;
using qa::testing_support::TemporaryFolder;
using quenvar::testing::errorOf;

namespace {

qa::ClassRecord sampleRecord() {
    qa::ClassRecord r;
    r.className = "lamp";
    r.progId = "Vendor.lamp";
    r.clsid = qa::Guid::parse("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    r.modulePath = "/opt/vendor/lamp.ocx";
    r.defaultInterfaceName = "_lamp";
    r.defaultInterfaceIid = qa::Guid::parse("{11111111-0000-0000-0000-000000000001}");
    r.eventInterfaceName = "__lamp";
    r.eventInterfaceIid = qa::Guid::parse("{11111111-0000-0000-0000-000000000002}");
    r.hasEvents = true;
    r.typeLibraryName = "Vendor";
    r.typeLibraryMajor = 1;
    r.typeLibraryMinor = 0;
    r.typeLibraryId = qa::Guid::parse("{11111111-0000-0000-0000-000000000003}");
    r.isControl = true;
    r.toolboxBitmap = 30000;
    r.miscStatus = 0x20191;
    r.threadingModel = "Apartment";
    r.version = "1.0";
    return r;
}

TEST(ClassRegistry, RecordsEveryItemAndFindsItAgain) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path() / "nested" / "registry");
    const qa::ClassRecord record = sampleRecord();
    registry.registerClass(record);

    EXPECT_EQ(registry.findByClassId(record.clsid), record);
    EXPECT_EQ(registry.findByProgId("Vendor.lamp"), record);
    EXPECT_EQ(registry.findByProgId("VENDOR.LAMP"), record);
    EXPECT_EQ(registry.findByProgId("Vendor.lamps"), std::nullopt);
    EXPECT_EQ(registry.findByClassId(qa::Guid{}), std::nullopt);
    EXPECT_EQ(registry.records(), std::vector<qa::ClassRecord>{record});

    std::ifstream file(registry.recordPath(record.clsid));
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (const char* line :
         {"ProgID=Vendor.lamp\n", "MiscStatus=0x20191\n", "ToolboxBitmap=30000\n", "ThreadingModel=Apartment\n",
          "TypeLibraryVersion=1.0\n", "DefaultIcon=\n", "Control=1\n", "HasEvents=1\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

TEST(ClassRegistry, ReplacesAndRemovesRecords) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    qa::ClassRecord record = sampleRecord();
    registry.registerClass(record);
    record.modulePath = "/elsewhere/lamp.ocx";
    registry.registerClass(record);
    EXPECT_EQ(registry.findByProgId("Vendor.lamp")->modulePath, "/elsewhere/lamp.ocx");
    EXPECT_EQ(registry.records().size(), 1u);

    qa::ClassRecord other = sampleRecord();
    other.clsid = qa::Guid::parse("{01234567-89AB-CDEF-0123-456789ABCDE0}");
    other.progId = "Vendor.switch";
    registry.registerClass(other);
    EXPECT_EQ(registry.records().size(), 2u);

    EXPECT_TRUE(registry.unregisterClass(record.clsid));
    EXPECT_FALSE(registry.unregisterClass(record.clsid));
    EXPECT_EQ(registry.findByProgId("Vendor.lamp"), std::nullopt);
    EXPECT_EQ(registry.findByProgId("vendor.switch"), other);
    // Nothing but the records is left behind.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.path())) ++files;
    EXPECT_EQ(files, 1u);
}

TEST(ClassRegistry, AMissingFolderHoldsNoClasses) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path() / "never-created");
    EXPECT_TRUE(registry.records().empty());
    EXPECT_EQ(registry.findByProgId("Vendor.lamp"), std::nullopt);
    EXPECT_FALSE(registry.unregisterClass(sampleRecord().clsid));
}

TEST(ClassRegistry, ReportsAFolderItCannotWrite) {
    TemporaryFolder folder;
    const fs::path blocker = folder.path() / "plain-file";
    std::ofstream(blocker) << "not a folder";
    const qa::ClassRegistry registry(blocker / "registry");
    const auto raised = errorOf([&] { registry.registerClass(sampleRecord()); });
    EXPECT_EQ(raised.number, en::PathFileAccessError);
    EXPECT_NE(raised.description.find(blocker.string()), std::string::npos) << raised.description;
}

TEST(ClassRegistry, RefusesValuesThatWouldBreakTheRecord) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    qa::ClassRecord record = sampleRecord();
    record.modulePath = "/tmp/a\nProgID=Evil.thing";
    EXPECT_EQ(errorOf([&] { registry.registerClass(record); }).number, en::PathFileAccessError);
    EXPECT_TRUE(registry.records().empty());
}

class MalformedRecord : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(MalformedRecord, NamesTheFileAndTheFault) {
    const auto& [replace, with] = GetParam();
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    const qa::ClassRecord record = sampleRecord();
    registry.registerClass(record);
    const fs::path file = registry.recordPath(record.clsid);
    std::string text;
    {
        std::ifstream in(file);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto at = text.find(replace);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, replace.size(), with);
    std::ofstream(file, std::ios::trunc) << text;

    const auto raised = errorOf([&] { registry.findByProgId("Vendor.lamp"); });
    EXPECT_EQ(raised.number, en::PathFileAccessError);
    EXPECT_NE(raised.description.find(file.string()), std::string::npos) << raised.description;
    EXPECT_EQ(errorOf([&] { registry.findByClassId(record.clsid); }).number, en::PathFileAccessError);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MalformedRecord,
    testing::Values(std::pair<std::string, std::string>{"ProgID=Vendor.lamp\n", ""},
                    std::pair<std::string, std::string>{"CLSID={", "CLSID=("},
                    std::pair<std::string, std::string>{"Control=1", "Control=yes"},
                    std::pair<std::string, std::string>{"MiscStatus=0x20191", "MiscStatus=lots"},
                    std::pair<std::string, std::string>{"TypeLibraryVersion=1.0", "TypeLibraryVersion=1"},
                    std::pair<std::string, std::string>{"Version=1.0\n", "Version=1.0\nno equals sign\n"},
                    std::pair<std::string, std::string>{"Version=1.0\n", "Version=1.0\nProgID=Other.lamp\n"},
                    std::pair<std::string, std::string>{"ClassName=lamp", "ClassName=la\x1bmp"},
                    std::pair<std::string, std::string>{"ModulePath=/opt", "ModulePath=opt"},
                    std::pair<std::string, std::string>{"HasEvents=1", "HasEvents=-1"},
                    std::pair<std::string, std::string>{"ToolboxBitmap=30000", "ToolboxBitmap=99999999999"},
                    // numbers only as the registry writes them: no sign or spaces
                    std::pair<std::string, std::string>{"ToolboxBitmap=30000", "ToolboxBitmap=+30000"},
                    std::pair<std::string, std::string>{"ToolboxBitmap=30000", "ToolboxBitmap= 30000"},
                    std::pair<std::string, std::string>{"MiscStatus=0x20191", "MiscStatus=0x"},
                    std::pair<std::string, std::string>{"TypeLibraryVersion=1.0", "TypeLibraryVersion= 1 .0"},
                    std::pair<std::string, std::string>{"TypeLibraryVersion=1.0", "TypeLibraryVersion=-0.+0"},
                    std::pair<std::string, std::string>{"TypeLibraryVersion=1.0", "TypeLibraryVersion=1.0.0"},
                    std::pair<std::string, std::string>{"Version=1.0\n",
                                                        "Version=1.0\n" + std::string(70000, '#') + "=padding\n"}));

TEST(ClassRegistry, ParsesWhatItWrites) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    const qa::ClassRecord record = sampleRecord();
    registry.registerClass(record);
    std::ifstream in(registry.recordPath(record.clsid));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(qa::parseClassRecord(text, "written.class"), record);
    // A leading zero written by hand is still decimal.
    std::string edited = text;
    edited.replace(edited.find("ToolboxBitmap=30000"), 19, "ToolboxBitmap=010");
    EXPECT_EQ(qa::parseClassRecord(edited, "edited.class").toolboxBitmap, 10u);
    // Windows line ends are control characters inside a value, not silently part of it.
    std::string withCarriageReturns;
    for (char c : text) {
        if (c == '\n') withCarriageReturns += '\r';
        withCarriageReturns += c;
    }
    const auto raised = errorOf([&] { qa::parseClassRecord(withCarriageReturns, "crlf.class"); });
    EXPECT_EQ(raised.number, en::PathFileAccessError);
    EXPECT_NE(raised.description.find("crlf.class"), std::string::npos) << raised.description;
}

TEST(ClassRegistry, ARecordCutShortAnywhereIsRefused) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    registry.registerClass(sampleRecord());
    std::ifstream in(registry.recordPath(sampleRecord().clsid));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Every cut before the last entry's '=' loses an entry or leaves one half written.
    const std::size_t lastEntry = text.rfind("Version=") + std::string("Version=").size();
    for (std::size_t length = 0; length < lastEntry; ++length) {
        SCOPED_TRACE("cut after " + std::to_string(length) + " bytes");
        const auto raised =
            errorOf([&] { qa::parseClassRecord(std::string_view(text).substr(0, length), "cut.class"); });
        EXPECT_EQ(raised.number, en::PathFileAccessError);
    }
}

TEST(ClassRegistry, ADamagedRecordDoesNotHideASoundOne) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    registry.registerClass(sampleRecord());
    const fs::path damaged = folder.path() / "{00000000-0000-0000-0000-000000000001}.class";
    std::ofstream(damaged) << "ClassName=broken\nProgID=Vendor.broken\n";

    const auto found = registry.findByProgId("vendor.LAMP");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, sampleRecord());
    // The damaged record may be the one asked for, so a miss names it.
    const auto raised = errorOf([&] { registry.findByProgId("Vendor.broken"); });
    EXPECT_EQ(raised.number, en::PathFileAccessError);
    EXPECT_NE(raised.description.find(damaged.string()), std::string::npos) << raised.description;
}

TEST(ClassRegistry, ARecordFiledUnderAnotherClassIdIsRefused) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    const qa::ClassRecord record = sampleRecord();
    registry.registerClass(record);
    const auto otherId = qa::Guid::parse("{0000BEEF-0000-0000-0000-000000000000}");
    fs::copy_file(registry.recordPath(record.clsid), registry.recordPath(otherId));
    const auto raised = errorOf([&] { registry.findByClassId(otherId); });
    EXPECT_EQ(raised.number, en::PathFileAccessError);
    EXPECT_NE(raised.description.find("not the one its name says"), std::string::npos) << raised.description;
}

// Whoever can change a record chooses the code that gets loaded for its class.
TEST(ClassRegistry, RecordsOthersCanChangeOrThatAreNoFilesAreRefused) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    const qa::ClassRecord record = sampleRecord();
    registry.registerClass(record);
    const fs::path file = registry.recordPath(record.clsid);

    fs::permissions(file, fs::perms::others_write, fs::perm_options::add);
    auto raised = errorOf([&] { registry.findByProgId("Vendor.lamp"); });
    EXPECT_EQ(raised.number, en::PathFileAccessError);
    EXPECT_NE(raised.description.find("chmod o-w"), std::string::npos) << raised.description;

    // A pipe in the registry's place must not block the reader.
    fs::remove(file);
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    raised = errorOf([&] { registry.findByClassId(record.clsid); });
    EXPECT_EQ(raised.number, en::PathFileAccessError);
    EXPECT_NE(raised.description.find("not a regular file"), std::string::npos) << raised.description;
}

TEST(ClassRegistry, RefusesToRecordARelativeModulePath) {
    TemporaryFolder folder;
    const qa::ClassRegistry registry(folder.path());
    qa::ClassRecord record = sampleRecord();
    record.modulePath = "lamp.ocx";
    EXPECT_EQ(errorOf([&] { registry.registerClass(record); }).number, en::PathFileAccessError);
    EXPECT_TRUE(registry.records().empty());
}

// The user's folder and the system-wide one, read in that order, written only in the first.
class UserAndSystemFolders : public testing::Test {
protected:
    TemporaryFolder root;
    fs::path userFolder = root.path() / "user";
    fs::path systemFolder = root.path() / "system";
    qa::ClassRegistry registry{userFolder, systemFolder};

    qa::ClassRecord recordIn(const fs::path& folder) {
        qa::ClassRecord record = sampleRecord();
        record.modulePath = (folder / "lamp.ocx").string();
        qa::ClassRegistry(folder).registerClass(record);
        return record;
    }
};

struct WhereRegistered {
    const char* name;
    bool inUserFolder;
    bool inSystemFolder;
    const char* foundIn;  // "user", "system" or nullptr
};

class LookupOrder : public UserAndSystemFolders, public testing::WithParamInterface<WhereRegistered> {};

TEST_P(LookupOrder, FindsTheUsersRecordFirstThenTheSystemWideOne) {
    const WhereRegistered& where = GetParam();
    if (where.inSystemFolder) recordIn(systemFolder);
    if (where.inUserFolder) recordIn(userFolder);
    const qa::Guid clsid = sampleRecord().clsid;

    if (where.foundIn == nullptr) {
        EXPECT_EQ(registry.findByProgId("Vendor.lamp"), std::nullopt);
        EXPECT_EQ(registry.findByClassId(clsid), std::nullopt);
        EXPECT_TRUE(registry.records().empty());
        EXPECT_EQ(registry.recordPath(clsid).parent_path(), userFolder);  // where registering would write
        return;
    }
    const fs::path folder = root.path() / where.foundIn;
    const std::string module = (folder / "lamp.ocx").string();
    EXPECT_EQ(registry.findByProgId("VENDOR.LAMP")->modulePath, module);
    EXPECT_EQ(registry.findByClassId(clsid)->modulePath, module);
    const auto all = registry.records();
    ASSERT_EQ(all.size(), 1u);  // a class registered in both folders is listed once
    EXPECT_EQ(all.front().modulePath, module);
    EXPECT_EQ(registry.recordPath(clsid).parent_path(), folder);
}

INSTANTIATE_TEST_SUITE_P(Folders, LookupOrder,
                         testing::Values(WhereRegistered{"UserOnly", true, false, "user"},
                                         WhereRegistered{"SystemOnly", false, true, "system"},
                                         WhereRegistered{"Both", true, true, "user"},
                                         WhereRegistered{"Neither", false, false, nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserAndSystemFolders, RegistrationChangesOnlyTheUsersFolder) {
    const qa::ClassRecord systemWide = recordIn(systemFolder);
    qa::ClassRecord own = sampleRecord();
    own.modulePath = "/home/someone/lamp.ocx";
    registry.registerClass(own);
    EXPECT_EQ(registry.findByProgId("Vendor.lamp"), own);
    EXPECT_EQ(qa::ClassRegistry(systemFolder).findByProgId("Vendor.lamp"), systemWide);

    EXPECT_TRUE(registry.unregisterClass(own.clsid));
    EXPECT_FALSE(registry.unregisterClass(own.clsid));  // the system-wide record is not the user's to remove
    EXPECT_EQ(registry.findByProgId("Vendor.lamp"), systemWide);
}

// The system-wide folder is trusted on the same terms as the user's own: whoever could change
// a record there would choose the code every user's programs load.
struct UntrustedPlace {
    const char* name;
    std::function<void(const fs::path& folder, const fs::path& record)> spoil;
    const char* reason;
};

class UntrustedSystemRecord : public UserAndSystemFolders, public testing::WithParamInterface<UntrustedPlace> {};

TEST_P(UntrustedSystemRecord, IsRefusedNamingTheFile) {
    const UntrustedPlace& place = GetParam();
    recordIn(systemFolder);
    const fs::path record = qa::ClassRegistry(systemFolder).recordPath(sampleRecord().clsid);
    place.spoil(systemFolder, record);
    if (IsSkipped() || HasFatalFailure()) return;

    for (const auto& lookup : std::vector<std::function<void()>>{[&] { registry.findByProgId("Vendor.lamp"); },
                                                                 [&] { registry.findByClassId(sampleRecord().clsid); },
                                                                 [&] { registry.records(); }}) {
        const auto raised = errorOf(lookup);
        EXPECT_EQ(raised.number, en::PathFileAccessError);
        EXPECT_NE(raised.description.find(record.string()), std::string::npos) << raised.description;
        EXPECT_NE(raised.description.find(place.reason), std::string::npos) << raised.description;
    }
}

INSTANTIATE_TEST_SUITE_P(Places, UntrustedSystemRecord,
                         testing::Values(UntrustedPlace{"RecordEveryoneMayChange",
                                                        [](const fs::path&, const fs::path& record) {
                                                            fs::permissions(record, fs::perms::others_write,
                                                                            fs::perm_options::add);
                                                        },
                                                        "chmod o-w"},
                                         UntrustedPlace{"FolderEveryoneMayWrite",
                                                        [](const fs::path& folder, const fs::path&) {
                                                            fs::permissions(folder, fs::perms::others_all,
                                                                            fs::perm_options::add);
                                                        },
                                                        "where every user may replace it"},
                                         UntrustedPlace{"RecordOfAnotherUser",
                                                        [](const fs::path&, const fs::path& record) {
                                                            // Only root can give a file away; others meet this case as
                                                            // the file's owner.
                                                            if (geteuid() != 0)
                                                                GTEST_SKIP()
                                                                    << "giving a file to another user needs root";
                                                            ASSERT_EQ(chown(record.c_str(), 65534, 65534), 0);
                                                        },
                                                        "not to you or root"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserAndSystemFolders, RegistrationLeavesNothingOthersMayChangeWhateverTheUmask) {
    const mode_t saved = umask(0);
    qa::ClassRecord record = sampleRecord();
    registry.registerClass(record);
    umask(saved);
    EXPECT_EQ(fs::status(userFolder).permissions(), static_cast<fs::perms>(0755));
    EXPECT_EQ(fs::status(registry.recordPath(record.clsid)).permissions(), static_cast<fs::perms>(0644));
    EXPECT_EQ(registry.findByProgId("Vendor.lamp"), record);
}

TEST(ClassRegistry, StandardFolderFollowsTheEnvironment) {
    {
        ScopedEnvironment named("QUENVAR_REGISTRY", "/srv/quenvar-registry");
        ScopedEnvironment data("XDG_DATA_HOME", "/data");
        EXPECT_EQ(qa::ClassRegistry::standardFolder(), fs::path("/srv/quenvar-registry"));
        EXPECT_EQ(qa::ClassRegistry::standard().folder(), fs::path("/srv/quenvar-registry"));
    }
    {
        ScopedEnvironment named("QUENVAR_REGISTRY", std::nullopt);
        ScopedEnvironment data("XDG_DATA_HOME", "/data");
        EXPECT_EQ(qa::ClassRegistry::standardFolder(), fs::path("/data/quenvar/registry"));
    }
    {
        ScopedEnvironment named("QUENVAR_REGISTRY", "");
        ScopedEnvironment data("XDG_DATA_HOME", std::nullopt);
        ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(qa::ClassRegistry::standardFolder(), fs::path("/home/someone/.local/share/quenvar/registry"));
    }
    {
        ScopedEnvironment named("QUENVAR_REGISTRY", std::nullopt);
        ScopedEnvironment data("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
        ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(qa::ClassRegistry::standardFolder(), fs::path("/home/someone/.local/share/quenvar/registry"));
    }
    {
        ScopedEnvironment named("QUENVAR_REGISTRY", "/home/someone/registry");
        ScopedEnvironment system("QUENVAR_SYSTEM_REGISTRY", "/srv/system-registry");
        EXPECT_EQ(qa::ClassRegistry::systemFolder(), fs::path("/srv/system-registry"));
        EXPECT_EQ(qa::ClassRegistry::standard().folders(),
                  (std::vector<fs::path>{"/home/someone/registry", "/srv/system-registry"}));
        EXPECT_EQ(qa::ClassRegistry::standard().folder(), fs::path("/home/someone/registry"));
        // The system-wide folder named as the user's is read once.
        ScopedEnvironment same("QUENVAR_REGISTRY", "/srv/system-registry/");
        EXPECT_EQ(qa::ClassRegistry::standard().folders().size(), 1u);
    }
}

}  // namespace
