#include "platform/automation/ComModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>

#include "platform/automation/RuntimeError.h"

namespace quenvar::automation {
namespace {

thread_local std::string lastError;

// Keeps the created object and the instance count together: the host's references share
// this holder, so the count drops when the host's last reference goes away.
struct CountedInstance {
    CountedInstance(ObjectRef instance, std::shared_ptr<InProcessServer::Counters> counters)
        : object(std::move(instance)), counters(std::move(counters)) {
        ++this->counters->instances;
    }
    ~CountedInstance() {
        object.reset();  // the object goes first, while it still counts as alive
        --counters->instances;
    }
    CountedInstance(const CountedInstance&) = delete;
    CountedInstance& operator=(const CountedInstance&) = delete;

    ObjectRef object;
    std::shared_ptr<InProcessServer::Counters> counters;
};

class ServerClassFactory : public ClassFactory {
public:
    ServerClassFactory(ClassRegistration registration, std::string className,
                       std::shared_ptr<InProcessServer::Counters> counters)
        : registration_(std::move(registration)), className_(std::move(className)), counters_(std::move(counters)) {}

    ObjectRef createInstance() override {
        ObjectRef instance = registration_.create();
        if (!instance) {
            throw RuntimeError(error_number::CannotCreateObject, "Cannot create object " + registration_.progId +
                                                                     ": the class " + className_ + " made no instance");
        }
        auto holder = std::make_shared<CountedInstance>(std::move(instance), counters_);
        Dispatchable* raw = holder->object.get();
        return ObjectRef(std::move(holder), raw);
    }

    void lockServer(bool lock) override {
        // Locks belong to the module, not to this factory: they outlive it. An unlock
        // without a lock changes nothing rather than wrapping the count around.
        if (lock) {
            ++counters_->locks;
            return;
        }
        std::size_t held = counters_->locks.load();
        while (held > 0 && !counters_->locks.compare_exchange_weak(held, held - 1)) {
        }
    }

private:
    ClassRegistration registration_;
    std::string className_;
    std::shared_ptr<InProcessServer::Counters> counters_;
};

}  // namespace

const std::string& lastServerError() { return lastError; }
void setLastServerError(std::string description) { lastError = std::move(description); }

ClassFactory::~ClassFactory() = default;

std::int32_t runEntryPoint(const std::function<std::int32_t()>& work) noexcept {
    try {
        setLastServerError({});
        return work();
    } catch (const std::exception& failure) {
        try {
            setLastServerError(failure.what());
        } catch (...) {
        }
        return server_status::Fail;
    } catch (...) {
        return server_status::Fail;
    }
}

InProcessServer::InProcessServer(ProjectDescriptor descriptor) : descriptor_(std::move(descriptor)) {
    checkDescriptor(descriptor_);
}

ClassRecord InProcessServer::recordFor(const ClassRegistration& registration, const std::string& modulePath) const {
    const TypeLibraryInfo& library = descriptor_.typeLibrary->library;
    const ClassInfo& info = *descriptor_.typeLibrary->findClass(registration.clsid);
    ClassRecord record;
    record.className = info.name;
    record.progId = registration.progId;
    record.clsid = registration.clsid;
    record.modulePath = modulePath;
    if (info.defaultInterface != nullptr) {
        record.defaultInterfaceName = info.defaultInterface->name;
        record.defaultInterfaceIid = info.defaultInterface->iid;
    }
    if (info.defaultSource != nullptr) {
        record.eventInterfaceName = info.defaultSource->name;
        record.eventInterfaceIid = info.defaultSource->iid;
        record.hasEvents = true;
    }
    record.typeLibraryName = library.name;
    record.typeLibraryMajor = library.majorVersion;
    record.typeLibraryMinor = library.minorVersion;
    record.typeLibraryId = library.libid;
    record.isControl = info.isControl;
    record.toolboxBitmap = registration.toolboxBitmap;
    record.miscStatus = registration.miscStatus;
    record.threadingModel = registration.threadingModel;
    record.version = registration.version;
    return record;
}

std::int32_t InProcessServer::registerServer(const std::string& modulePath) const {
    return registerServer(modulePath, ClassRegistry::standard());
}

std::int32_t InProcessServer::registerServer(const std::string& modulePath, const ClassRegistry& registry) const {
    if (modulePath.empty()) {
        setLastServerError("Cannot register " + descriptor_.typeLibrary->library.name +
                           ": the module could not find its own file");
        return server_status::RegistrationFailed;
    }
    try {
        for (const ClassRegistration& registration : descriptor_.classes) {
            registry.registerClass(recordFor(registration, modulePath));
        }
    } catch (const RuntimeError& error) {
        setLastServerError("Cannot register " + modulePath + ": " + error.description());
        return server_status::RegistrationFailed;
    }
    setLastServerError({});
    return server_status::Ok;
}

std::int32_t InProcessServer::unregisterServer() const { return unregisterServer(ClassRegistry::standard()); }

std::int32_t InProcessServer::unregisterServer(const ClassRegistry& registry) const {
    try {
        for (const ClassRegistration& registration : descriptor_.classes) registry.unregisterClass(registration.clsid);
    } catch (const RuntimeError& error) {
        setLastServerError("Cannot unregister " + descriptor_.typeLibrary->library.name + ": " + error.description());
        return server_status::RegistrationFailed;
    }
    setLastServerError({});
    return server_status::Ok;
}

std::int32_t InProcessServer::getClassObject(const Guid* clsid, std::shared_ptr<ClassFactory>* factory) const {
    if (clsid == nullptr || factory == nullptr) {
        setLastServerError("DllGetClassObject needs a class id and a place for the factory");
        return server_status::NullPointer;
    }
    for (const ClassRegistration& registration : descriptor_.classes) {
        if (registration.clsid == *clsid) {
            const ClassInfo& info = *descriptor_.typeLibrary->findClass(registration.clsid);
            *factory = std::make_shared<ServerClassFactory>(registration, info.name, counters_);
            setLastServerError({});
            return server_status::Ok;
        }
    }
    setLastServerError("The module of " + descriptor_.typeLibrary->library.name + " serves no class " +
                       clsid->toString());
    return server_status::ClassNotAvailable;
}

std::int32_t InProcessServer::canUnloadNow() const {
    return counters_->instances.load() == 0 && counters_->locks.load() == 0 ? server_status::Ok : server_status::False;
}

std::string modulePathOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0') return {};
    std::error_code error;
    const std::filesystem::path path = std::filesystem::weakly_canonical(info.dli_fname, error);
    return error ? std::string(info.dli_fname) : path.string();
}

}  // namespace quenvar::automation
