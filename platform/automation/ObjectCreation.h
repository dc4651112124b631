#pragma once
// Creating objects by ProgID: class registry -> module file -> dlopen -> DllGetClassObject
// -> class factory -> instance. Modules stay loaded for the rest of the process, so no
// object ever outlives its code.

#include <string>
#include <string_view>

#include "platform/automation/ClassRegistry.h"
#include "platform/automation/ComModule.h"
#include "platform/automation/Variant.h"

namespace quenvar::automation {

// A module loaded through its file, with its entry points looked up on demand.
class ServerModule {
public:
    // Loads the module (once per process; later calls give the same handle). A missing file
    // or a file dlopen refuses raises RuntimeError CannotCreateObject (429) whose description
    // is the reason alone, with the path and the loader's words ("the module file X does not
    // exist"), for the caller to put in its own context.
    static ServerModule load(const std::string& path);

    const std::string& path() const { return path_; }
    // The entry point `name`; a module without it raises CannotCreateObject naming the entry
    // point and the module.
    void* entryPoint(const char* name) const;
    bool hasEntryPoint(const char* name) const;

    RegisterServerEntry registerServer() const;
    UnregisterServerEntry unregisterServer() const;
    GetClassObjectEntry getClassObject() const;
    CanUnloadNowEntry canUnloadNow() const;

private:
    friend ObjectRef createObject(std::string_view, const ClassRegistry&);
    static ServerModule adopt(std::string path, void* handle) { return ServerModule(std::move(path), handle); }
    ServerModule(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}
    std::string path_;
    void* handle_;
};

// Creates an instance of the class registered under `progId` in the standard registry (or
// `registry`). Every failure raises RuntimeError CannotCreateObject (429) whose description
// says what was missing and what to do: an unknown ProgID (the registry folder searched and
// how to register), a missing module file, a module without the entry points, a class the
// module does not serve, or the class's own failure to create.
ObjectRef createObject(std::string_view progId);
ObjectRef createObject(std::string_view progId, const ClassRegistry& registry);

}  // namespace quenvar::automation
