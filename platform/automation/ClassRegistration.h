#pragma once
// What an in-process server's module says about itself, on every platform: its type library
// and, per class, what registration records beyond the type information and how to make an
// instance. Only the making differs between platforms (`Create`: the runtime's shared object
// on Linux, a COM reference for an interface on Windows); the Linux module glue and the
// Windows COM server take their descriptor in this one shape, so the two cannot drift apart.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/automation/Guid.h"
#include "platform/automation/TypeInfo.h"

namespace quenvar::automation {

template <class Create>
struct BasicClassRegistration {
    Guid clsid;  // must name a class of the descriptor's type library
    std::string progId;
    std::uint32_t toolboxBitmap = 0;  // resource number of the toolbox picture; 0: none
    std::uint32_t miscStatus = 0;     // OLEMISC flags for the content aspect
    std::string threadingModel = "Apartment";
    std::string version = "1.0";
    Create create;
};

template <class Create>
struct BasicProjectDescriptor {
    const TypeLibrary* typeLibrary = nullptr;  // static data of the module
    std::vector<BasicClassRegistration<Create>> classes;
};

// Throws std::logic_error when the type library is missing, or a class is not in it or
// cannot be made: a module's own mistake, found when its server is first used.
template <class Create>
void checkDescriptor(const BasicProjectDescriptor<Create>& descriptor) {
    if (descriptor.typeLibrary == nullptr) throw std::logic_error("an in-process server needs its type library");
    for (const BasicClassRegistration<Create>& registration : descriptor.classes) {
        if (descriptor.typeLibrary->findClass(registration.clsid) == nullptr) {
            throw std::logic_error("the class " + registration.clsid.toString() + " (" + registration.progId +
                                   ") is not in the type library " + descriptor.typeLibrary->library.name);
        }
        if (!registration.create) {
            throw std::logic_error("the class " + registration.progId + " has no create function");
        }
    }
}

}  // namespace quenvar::automation
