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

#include <functional>
#include <string>
#include <vector>

#include "platform/automation/ClassRegistration.h"

namespace quenvar::automation::windows {

// One class of the module (see ClassRegistration.h). Making an instance asked for `iid`
// answers S_OK with the reference in *object, or the failure.
using ClassCreator = std::function<HRESULT(REFIID iid, void** object)>;
using ClassRegistration = BasicClassRegistration<ClassCreator>;
using ProjectDescriptor = BasicProjectDescriptor<ClassCreator>;

class ComServer {
public:
    // Throws std::logic_error for a descriptor that does not hold together (checkDescriptor).
    explicit ComServer(ProjectDescriptor descriptor);

    // The module whose path registration records; set by its entry routine.
    void setModule(HMODULE module) { module_ = module; }
    HMODULE module() const { return module_; }

    HRESULT registerServer() const;
    HRESULT unregisterServer() const;
    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    // S_OK when no object of the module lives and no factory lock is held, else S_FALSE.
    HRESULT canUnloadNow() const;

    const ProjectDescriptor& descriptor() const { return descriptor_; }
    // What the type library says about the class (its name, whether it is a control).
    const ClassInfo& classInfo(const ClassRegistration& registration) const;

private:
    std::wstring modulePath() const;

    ProjectDescriptor descriptor_;
    HMODULE module_ = nullptr;
};

}  // namespace quenvar::automation::windows
