#pragma once
// Type information a module carries about itself: its type library, its classes and the
// interfaces they implement. Hosts read it from a created object (ClassInfoProvider) or from
// the module's server (InProcessServer::typeLibrary).

#include <cstdint>
#include <string>
#include <vector>

#include "platform/automation/Dispatch.h"
#include "platform/automation/Guid.h"

namespace quenvar::automation {

struct TypeLibraryInfo {
    Guid libid;
    std::string name;
    std::string helpText;
    std::uint16_t majorVersion = 1;
    std::uint16_t minorVersion = 0;
    std::uint32_t lcid = 0x409;  // English (United States)
    bool holdsControls = false;
};

struct ClassInfo {
    Guid clsid;
    std::string name;
    bool isControl = false;
    bool creatable = true;  // false for a control: hosts place it on a window instead
    const InterfaceInfo* defaultInterface = nullptr;
    const InterfaceInfo* defaultSource = nullptr;  // the event interface, or nullptr
};

struct TypeLibrary {
    TypeLibraryInfo library;
    std::vector<ClassInfo> classes;
    std::vector<const InterfaceInfo*> interfaces;  // every interface the library describes

    // The class or interface with this id, or nullptr.
    const ClassInfo* findClass(const Guid& clsid) const {
        for (const ClassInfo& info : classes) {
            if (info.clsid == clsid) return &info;
        }
        return nullptr;
    }
    const InterfaceInfo* findInterface(const Guid& iid) const {
        for (const InterfaceInfo* info : interfaces) {
            if (info->iid == iid) return info;
        }
        return nullptr;
    }
};

// Implemented by objects that can describe their own class (hosts find it with
// dynamic_cast on the object they created).
class ClassInfoProvider {
public:
    virtual ~ClassInfoProvider() = default;
    virtual const TypeLibrary& typeLibrary() const = 0;
    virtual const ClassInfo& classInfo() const = 0;
};

}  // namespace quenvar::automation
