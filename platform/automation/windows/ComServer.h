#pragma once
// The work of an in-process server's four entry points, done from the module's project
// descriptor: its type library and, per class, what registration records and how to make an
// instance. A module's exported functions hand over to a ComServer at once.
//
// Registration writes the machine's classes (HKLM\Software\Classes); a user without rights
// to them gets the registration in their own classes (HKCU\Software\Classes) instead.
// Unregistration removes the record from both places. The type library carried by the
// module (resource TYPELIB 1) is registered and unregistered with the classes.

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/automation/TypeInfo.h"

namespace quenvar::automation::windows {

struct ServerClass {
    Guid clsid;                       // a class of the descriptor's type library
    std::string progId;
    bool isControl = false;           // recorded as a control, offered in hosts' toolboxes
    std::uint32_t toolboxBitmap = 0;  // resource number of the toolbox picture; 0: none
    std::uint32_t miscStatus = 0;     // OLEMISC flags for the content aspect
    std::string threadingModel = "Apartment";
    std::string version = "1.0";
    // A new instance, asked for `iid`: S_OK with the reference in *object, or the failure.
    std::function<HRESULT(REFIID iid, void** object)> create;
};

struct ServerDescriptor {
    const TypeLibrary* typeLibrary = nullptr;  // static data of the module
    std::vector<ServerClass> classes;
};

class ComServer {
public:
    explicit ComServer(ServerDescriptor descriptor);

    // The module whose path registration records; set by its entry routine.
    void setModule(HMODULE module) { module_ = module; }
    HMODULE module() const { return module_; }

    HRESULT registerServer() const;
    HRESULT unregisterServer() const;
    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    // S_OK when no object of the module lives and no factory lock is held, else S_FALSE.
    HRESULT canUnloadNow() const;

    const ServerDescriptor& descriptor() const { return descriptor_; }
    // The class's name in the type library.
    std::string className(const ServerClass& serverClass) const;

private:
    std::wstring modulePath() const;

    ServerDescriptor descriptor_;
    HMODULE module_ = nullptr;
};

}  // namespace quenvar::automation::windows
