#include "platform/automation/ObjectCreation.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "platform/automation/RuntimeError.h"

namespace quenvar::automation {
namespace {

RuntimeError cannotCreate(std::string_view what, const std::string& reason) {
    return RuntimeError(error_number::CannotCreateObject, "Cannot create object " + std::string(what) + ": " + reason);
}

// Loaded modules by path: never closed, since objects and factories they made may live on.
std::mutex modulesMutex;
std::map<std::string, void*>& loadedModules() {
    static auto* modules = new std::map<std::string, void*>;  // outlives every static destructor
    return *modules;
}

// Loading a module runs its code, so only a shared library that nobody but its owner (the user
// or root) can change is loaded. Empty when `file` passes; otherwise why it does not.
std::string untrustedModuleReason(const std::filesystem::path& file) {
    struct stat status {};
    if (stat(file.c_str(), &status) != 0)
        return "the module file " + file.string() + " cannot be read: " + std::strerror(errno);
    if (!S_ISREG(status.st_mode)) return "the module " + file.string() + " is not a regular file";
    const auto trustedOwner = [](uid_t owner) { return owner == geteuid() || owner == 0; };
    if ((status.st_mode & S_IWOTH) != 0 || !trustedOwner(status.st_uid)) {
        return "the module " + file.string() +
               " can be changed by other users, so it is not loaded. Make it yours and not writable by others "
               "(chmod o-w)";
    }
    struct stat folder {};
    const std::filesystem::path parent = file.parent_path();
    if (stat(parent.c_str(), &folder) == 0 && (folder.st_mode & S_IWOTH) != 0 && (folder.st_mode & S_ISVTX) == 0) {
        return "the module " + file.string() + " lies in the folder " + parent.string() +
               ", where every user may replace it, so it is not loaded. Move it to a folder only you can write";
    }
    std::ifstream in(file, std::ios::binary);
    char magic[4] = {};
    if (!in.read(magic, sizeof magic) || std::memcmp(magic,
                                                     "\x7f"
                                                     "ELF",
                                                     sizeof magic) != 0) {
        return "the module " + file.string() + " cannot be loaded: it is not a shared library";
    }
    return {};
}

// The module's handle, loading it on first use; nullptr with `reason` set when it cannot be.
void* openModule(const std::string& path, std::string& reason) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        reason = "the module file " + path + " does not exist";
        return nullptr;
    }
    // The checks and dlopen both see the resolved file: a link is judged by what it points to.
    const std::string key = std::filesystem::canonical(path, error).string();
    if (error) {
        reason = "the module file " + path + " cannot be resolved: " + error.message();
        return nullptr;
    }
    std::lock_guard lock(modulesMutex);
    auto& modules = loadedModules();
    if (auto found = modules.find(key); found != modules.end()) return found->second;
    reason = untrustedModuleReason(key);
    if (!reason.empty()) return nullptr;
    void* handle = dlopen(key.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* loaderReason = dlerror();
        reason = "the module " + path + " cannot be loaded: " + (loaderReason ? loaderReason : "unknown reason");
        return nullptr;
    }
    modules.emplace(key, handle);
    return handle;
}

}  // namespace

ServerModule ServerModule::load(const std::string& path) {
    std::string reason;
    void* handle = openModule(path, reason);
    if (handle == nullptr) throw RuntimeError(error_number::CannotCreateObject, reason);
    return ServerModule(path, handle);
}

bool ServerModule::hasEntryPoint(const char* name) const {
    dlerror();
    return dlsym(handle_, name) != nullptr;
}

void* ServerModule::entryPoint(const char* name) const {
    dlerror();
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) {
        throw RuntimeError(
            error_number::CannotCreateObject,
            "the module " + path_ + " does not export the entry point " + name + "; it is no in-process server");
    }
    return symbol;
}

RegisterServerEntry ServerModule::registerServer() const {
    return reinterpret_cast<RegisterServerEntry>(entryPoint(entry_point_name::registerServer));
}
UnregisterServerEntry ServerModule::unregisterServer() const {
    return reinterpret_cast<UnregisterServerEntry>(entryPoint(entry_point_name::unregisterServer));
}
GetClassObjectEntry ServerModule::getClassObject() const {
    return reinterpret_cast<GetClassObjectEntry>(entryPoint(entry_point_name::getClassObject));
}
CanUnloadNowEntry ServerModule::canUnloadNow() const {
    return reinterpret_cast<CanUnloadNowEntry>(entryPoint(entry_point_name::canUnloadNow));
}

ObjectRef createObject(std::string_view progId) { return createObject(progId, ClassRegistry::standard()); }

ObjectRef createObject(std::string_view progId, const ClassRegistry& registry) {
    std::optional<ClassRecord> record;
    try {
        record = registry.findByProgId(progId);
    } catch (const RuntimeError& error) {
        throw cannotCreate(progId, error.description());
    }
    if (!record) {
        std::string folders;
        for (const auto& folder : registry.folders()) folders += (folders.empty() ? "" : " nor in ") + folder.string();
        throw cannotCreate(progId, "no class with this ProgID is registered in " + folders +
                                       ". Register its module first: run quenvar-regsvr path/to/quenvar.ocx "
                                       "(QUENVAR_REGISTRY names the registry folder)");
    }
    std::string reason;
    void* handle = openModule(record->modulePath, reason);
    if (handle == nullptr) {
        throw cannotCreate(progId, reason + " (registered in " + registry.recordPath(record->clsid).string() +
                                       "). Build the module, or register it again with quenvar-regsvr");
    }
    const ServerModule module = ServerModule::adopt(record->modulePath, handle);
    // The four entry points together make an in-process server; name the first one missing.
    for (const char* name : {entry_point_name::registerServer, entry_point_name::unregisterServer,
                             entry_point_name::getClassObject, entry_point_name::canUnloadNow}) {
        if (!module.hasEntryPoint(name)) {
            throw cannotCreate(progId, "the module " + module.path() + " does not export the entry point " + name +
                                           "; it is no in-process server");
        }
    }
    std::shared_ptr<ClassFactory> factory;
    const std::int32_t status = module.getClassObject()(&record->clsid, &factory);
    if (status != server_status::Ok || !factory) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
        const std::string& detail = lastServerError();
        throw cannotCreate(progId, "the module " + module.path() + " gave no class factory for " +
                                       record->clsid.toString() + " (status " + code + ")" +
                                       (detail.empty() ? std::string() : ": " + detail));
    }
    ObjectRef instance;
    try {
        instance = factory->createInstance();
    } catch (const RuntimeError& error) {
        throw cannotCreate(progId,
                           "the class " + record->className + " failed to create an instance: " + error.description());
    } catch (const std::exception& error) {
        throw cannotCreate(progId, "the class " + record->className + " failed to create an instance: " + error.what());
    }
    if (!instance) throw cannotCreate(progId, "the class " + record->className + " made no instance");
    return instance;
}

}  // namespace quenvar::automation
