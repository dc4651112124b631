#pragma once
// In-process servers: the four entry points a module exports, the class factory they hand
// out, and InProcessServer, which does the work of the entry points for a module given its
// project descriptor.
//
// A module declares its classes once and exports the entry points with one macro:
//
//   const InProcessServer& server() {
//       static InProcessServer s(ProjectDescriptor{&myTypeLibrary(), {ClassRegistration{
//           .clsid = myClsid, .progId = "Vendor.thing", .toolboxBitmap = 30000,
//           .miscStatus = 0x20191, .create = [] { return std::make_shared<Thing>(); }}}});
//       return s;
//   }
//   QUENVAR_EXPORT_SERVER_ENTRY_POINTS(server())
//
// Entry points never throw: they return a status, and on failure leave a description in
// lastServerError() (the runtime is one shared copy per process, so the host reads what the
// module wrote).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation/ClassRegistration.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/automation/Guid.h"
#include "platform/automation/TypeInfo.h"
#include "platform/automation/Variant.h"

namespace quenvar::automation {

namespace server_status {
inline constexpr std::int32_t Ok = 0;                                                       // S_OK
inline constexpr std::int32_t False = 1;                                                    // S_FALSE
inline constexpr std::int32_t Fail = static_cast<std::int32_t>(0x80004005u);                // E_FAIL
inline constexpr std::int32_t NullPointer = static_cast<std::int32_t>(0x80004003u);         // E_POINTER
inline constexpr std::int32_t ClassNotAvailable = static_cast<std::int32_t>(0x80040111u);   // CLASS_E_CLASSNOTAVAILABLE
inline constexpr std::int32_t RegistrationFailed = static_cast<std::int32_t>(0x80040201u);  // SELFREG_E_CLASS
}  // namespace server_status

// The description of the last failing entry point on this thread ("" after a success).
const std::string& lastServerError();
void setLastServerError(std::string description);

class ClassFactory {
public:
    virtual ~ClassFactory();
    // A new instance. Failures raise RuntimeError.
    virtual ObjectRef createInstance() = 0;
    // Keeps the module in use while locked (DllCanUnloadNow answers False); calls pair up.
    virtual void lockServer(bool lock) = 0;
};

// The entry points' types and names, as hosts look them up.
extern "C" {
using RegisterServerEntry = std::int32_t (*)();
using UnregisterServerEntry = std::int32_t (*)();
using GetClassObjectEntry = std::int32_t (*)(const Guid* clsid, std::shared_ptr<ClassFactory>* factory);
using CanUnloadNowEntry = std::int32_t (*)();
}
namespace entry_point_name {
inline constexpr const char* registerServer = "DllRegisterServer";
inline constexpr const char* unregisterServer = "DllUnregisterServer";
inline constexpr const char* getClassObject = "DllGetClassObject";
inline constexpr const char* canUnloadNow = "DllCanUnloadNow";
}  // namespace entry_point_name

// One class of a module (see ClassRegistration.h); an instance is the runtime's object.
using ClassCreator = std::function<ObjectRef()>;
using ClassRegistration = BasicClassRegistration<ClassCreator>;
using ProjectDescriptor = BasicProjectDescriptor<ClassCreator>;

class InProcessServer {
public:
    // Throws std::logic_error when a class is missing from the type library or lacks `create`.
    explicit InProcessServer(ProjectDescriptor descriptor);

    // Records every class in the standard registry (or `registry`), with `modulePath` as the
    // module's file. Statuses: Ok, or RegistrationFailed with lastServerError() set.
    std::int32_t registerServer(const std::string& modulePath) const;
    std::int32_t registerServer(const std::string& modulePath, const ClassRegistry& registry) const;
    std::int32_t unregisterServer() const;
    std::int32_t unregisterServer(const ClassRegistry& registry) const;
    // Ok with the class's factory; ClassNotAvailable for a class this module does not serve;
    // NullPointer for a null argument.
    std::int32_t getClassObject(const Guid* clsid, std::shared_ptr<ClassFactory>* factory) const;
    // Ok when no instance lives and no factory lock is held, else False.
    std::int32_t canUnloadNow() const;

    // Instances count from creation until the last reference a host holds goes away (a
    // reference an object keeps to itself does not count).
    std::size_t liveInstances() const { return counters_->instances.load(); }
    std::size_t serverLocks() const { return counters_->locks.load(); }
    const TypeLibrary& typeLibrary() const { return *descriptor_.typeLibrary; }
    const ProjectDescriptor& descriptor() const { return descriptor_; }

    // The record registration writes for a class of this module.
    ClassRecord recordFor(const ClassRegistration& registration, const std::string& modulePath) const;

    struct Counters {
        std::atomic<std::size_t> instances{0};
        std::atomic<std::size_t> locks{0};
    };

private:
    ProjectDescriptor descriptor_;
    std::shared_ptr<Counters> counters_ = std::make_shared<Counters>();
};

// Runs an entry point's work; any exception becomes Fail with its text in lastServerError().
std::int32_t runEntryPoint(const std::function<std::int32_t()>& work) noexcept;

// The absolute path of the loaded file (module, library or program) that holds `address`;
// empty when none does.
std::string modulePathOf(const void* address);

}  // namespace quenvar::automation

// Defines the four exported entry points of a module, handing each over to `serverExpression`
// (an expression giving a const InProcessServer&).
#define QUENVAR_EXPORT_SERVER_ENTRY_POINTS(serverExpression)                                                       \
    namespace {                                                                                                    \
    const char quenvarModuleAnchor = 0;                                                                            \
    }                                                                                                              \
    extern "C" __attribute__((visibility("default"))) std::int32_t DllRegisterServer() {                           \
        return ::quenvar::automation::runEntryPoint([] {                                                           \
            return (serverExpression).registerServer(::quenvar::automation::modulePathOf(&quenvarModuleAnchor));   \
        });                                                                                                        \
    }                                                                                                              \
    extern "C" __attribute__((visibility("default"))) std::int32_t DllUnregisterServer() {                         \
        return ::quenvar::automation::runEntryPoint([] { return (serverExpression).unregisterServer(); });         \
    }                                                                                                              \
    extern "C" __attribute__((visibility("default"))) std::int32_t DllGetClassObject(                              \
        const ::quenvar::automation::Guid* clsid, std::shared_ptr<::quenvar::automation::ClassFactory>* factory) { \
        return ::quenvar::automation::runEntryPoint(                                                               \
            [&] { return (serverExpression).getClassObject(clsid, factory); });                                    \
    }                                                                                                              \
    extern "C" __attribute__((visibility("default"))) std::int32_t DllCanUnloadNow() {                             \
        return ::quenvar::automation::runEntryPoint([] { return (serverExpression).canUnloadNow(); });             \
    }
