// quenvar.ocx from the outside: its entry points, registration, creation by ProgID, unload
// answers and the resources it brings into the host process.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <QFile>
#include <QImage>

#include <filesystem>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarResources.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/ComModule.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/TypeInfo.h"
#include "platform/automation/TypeLibraryText.h"
#include "platform/ui/EmbeddableControl.h"
#include "tests/integration/module/ModuleFixture.h"
#include "tests/support/ClassRecords.h"

namespace quenvar::testing {
namespace {

namespace ids = control::identifiers;
namespace status = automation::server_status;

TEST(ModuleFile, IsNamedQuenvarOcxAndExportsTheFourEntryPoints) {
    EXPECT_EQ(std::filesystem::path(modulePath).filename(), "quenvar.ocx");
    EXPECT_EQ(std::filesystem::path(modulePath).parent_path().filename(), "lib");
    ASSERT_TRUE(std::filesystem::exists(modulePath)) << modulePath;
    void* handle = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const char* name :
         {automation::entry_point_name::registerServer, automation::entry_point_name::unregisterServer,
          automation::entry_point_name::getClassObject, automation::entry_point_name::canUnloadNow}) {
        EXPECT_NE(dlsym(handle, name), nullptr) << name;
    }
    // The control's own code stays inside the module.
    EXPECT_EQ(dlsym(handle, "_ZN7quenvar7control14QuenvarControlC1Ev"), nullptr);
}

TEST_F(ModuleFixture, RegistrationRecordsTheClass) {
    registerModule();
    const auto record = registry().findByProgId(progId);
    ASSERT_TRUE(record.has_value());
    EXPECT_TRUE(std::filesystem::equivalent(record->modulePath, modulePath));
    expectClassRecord(*record, {.className = "quenvar",
                                .progId = progId,
                                .clsid = ids::quenvarClass,
                                .modulePath = record->modulePath,  // the same file, as checked above
                                .defaultInterfaceName = "_quenvar",
                                .defaultInterfaceIid = ids::quenvarInterface,
                                .eventInterfaceName = "__quenvar",
                                .eventInterfaceIid = ids::quenvarEvents,
                                .hasEvents = true,
                                .typeLibraryName = "Zelvo",
                                .typeLibraryMajor = 1,
                                .typeLibraryMinor = 0,
                                .typeLibraryId = ids::library,
                                .isControl = true,
                                .toolboxBitmap = 30000,
                                .defaultIcon = "",  // none
                                .miscStatus = 0x20191});
}

TEST_F(ModuleFixture, RegistryRoundTrip) {
    registerModule();
    {
        automation::ObjectRef control = automation::createObject(progId);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->interfaceInfo().name, "_quenvar");
        EXPECT_EQ(control->get(control::member::comstatus), automation::Variant::fromInt16(0));
        EXPECT_NE(dynamic_cast<ui::EmbeddableControl*>(control.get()), nullptr);
        EXPECT_NE(dynamic_cast<automation::ConnectionPointContainer*>(control.get()), nullptr);
    }

    ASSERT_EQ(module->unregisterServer()(), status::Ok) << automation::lastServerError();
    EXPECT_FALSE(registry().findByProgId(progId).has_value());
    try {
        automation::createObject(progId);
        FAIL() << "created an unregistered class";
    } catch (const automation::RuntimeError& error) {
        EXPECT_EQ(error.number(), automation::error_number::CannotCreateObject);
        EXPECT_NE(error.description().find(progId), std::string::npos) << error.description();
    }
}

TEST_F(ModuleFixture, CreatedControlDescribesItsTypeLibrary) {
    registerModule();
    automation::ObjectRef control = automation::createObject(progId);
    auto* provider = dynamic_cast<automation::ClassInfoProvider*>(control.get());
    ASSERT_NE(provider, nullptr);
    const automation::TypeLibrary& library = provider->typeLibrary();
    EXPECT_EQ(library.library.name, "Zelvo");
    EXPECT_EQ(library.library.libid, ids::library);
    EXPECT_EQ(library.library.lcid, 0x409u);
    EXPECT_TRUE(library.library.holdsControls);
    EXPECT_EQ(provider->classInfo().clsid, ids::quenvarClass);
    EXPECT_FALSE(provider->classInfo().creatable);
    ASSERT_NE(library.findInterface(ids::quenvarInterface), nullptr);
    EXPECT_EQ(library.findInterface(ids::quenvarInterface)->entries().size(), 24u);
    ASSERT_NE(library.findInterface(ids::quenvarEvents), nullptr);
    EXPECT_TRUE(library.findInterface(ids::quenvarEvents)->flags.dispatchOnly);
}

TEST_F(ModuleFixture, MayUnloadOnlyWithoutInstancesAndLocks) {
    ASSERT_EQ(module->canUnloadNow()(), status::Ok);

    std::shared_ptr<automation::ClassFactory> factory;
    ASSERT_EQ(module->getClassObject()(&ids::quenvarClass, &factory), status::Ok) << automation::lastServerError();
    ASSERT_NE(factory, nullptr);

    automation::ObjectRef instance = factory->createInstance();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(module->canUnloadNow()(), status::False);
    instance.reset();
    EXPECT_EQ(module->canUnloadNow()(), status::Ok);

    factory->lockServer(true);
    EXPECT_EQ(module->canUnloadNow()(), status::False);
    factory->lockServer(false);
    EXPECT_EQ(module->canUnloadNow()(), status::Ok);
}

TEST_F(ModuleFixture, ServesOnlyItsOwnClass) {
    std::shared_ptr<automation::ClassFactory> factory;
    EXPECT_EQ(module->getClassObject()(&ids::quenvarInterface, &factory), status::ClassNotAvailable);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(module->getClassObject()(&ids::quenvarClass, nullptr), status::NullPointer);
}

QByteArray readLoadedResource(const char* path) {
    QFile file(QString::fromLatin1(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    return file.readAll();
}

TEST_F(ModuleFixture, ResourcesAreReadableOnceLoaded) {
    // The fixture has loaded the module; this program carries no resources of its own.
    const QByteArray interfaceRecord = readLoadedResource(control::resource::interfaceId);
    ASSERT_EQ(interfaceRecord.size(), 20);
    EXPECT_EQ(interfaceRecord.left(4), QByteArray("\x10\x00\x00\x00", 4));
    EXPECT_EQ(interfaceRecord.mid(4),
              QByteArray(reinterpret_cast<const char*>(ids::quenvarInterface.bytes.data()), 16));
    const QByteArray eventRecord = readLoadedResource(control::resource::eventInterfaceId);
    ASSERT_EQ(eventRecord.size(), 20);
    EXPECT_EQ(eventRecord.mid(4), QByteArray(reinterpret_cast<const char*>(ids::quenvarEvents.bytes.data()), 16));

    EXPECT_EQ(QImage::fromData(readLoadedResource(control::resource::toolboxBitmap)).size(), QSize(16, 15));
    EXPECT_EQ(QImage::fromData(readLoadedResource(control::resource::toolboxBitmapDesigner)).size(), QSize(32, 32));
    EXPECT_EQ(QImage::fromData(readLoadedResource(control::resource::image1)).size(), QSize(68, 58));
    EXPECT_TRUE(readLoadedResource(control::resource::version).contains("OriginalFilename=quenvar.ocx"));
}

TEST_F(ModuleFixture, TypeLibraryResourceIsTheTextOfTheLiveTables) {
    registerModule();
    automation::ObjectRef control = automation::createObject(progId);
    auto* provider = dynamic_cast<automation::ClassInfoProvider*>(control.get());
    ASSERT_NE(provider, nullptr);
    const QByteArray carried = readLoadedResource(control::resource::typeLibrary);
    EXPECT_EQ(carried.toStdString(), automation::typeLibraryText(provider->typeLibrary()));
    EXPECT_TRUE(carried.contains("library Zelvo"));
    EXPECT_TRUE(carried.contains("interface _quenvar : IDispatch"));
    EXPECT_TRUE(carried.contains("dispinterface __quenvar"));
    for (const char* line :
         {"[id(0x40030002), propget] HRESULT sendstatus([out, retval] VARIANT_BOOL* value);",
          "[id(0x40030003), propputref] HRESULT colstring([in] IDispatch* value);",
          "[id(0x60030009)] HRESULT x10dim([in, out] BSTR* house, [in, out] BSTR* unit, [in, out] short* dimvalue);",
          "[id(0x6003000C)] HRESULT alloff([in, out] BSTR* house);", "[id(0x00000001)] void x10ready();",
          "[id(0x00000002)] void x10received([in, out] BSTR* house, [in, out] BSTR* units, [in, out] BSTR* command, "
          "[in, out] short* level);"}) {
        EXPECT_TRUE(carried.contains(line)) << line;
    }
}

}  // namespace
}  // namespace quenvar::testing
