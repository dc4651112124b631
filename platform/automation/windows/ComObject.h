#pragma once
// The reference counting every COM object of the module shares: one count per object, the
// object deleted when its last reference goes unless it says otherwise. Objects that keep the
// module in use while they live (DllCanUnloadNow) hold a CountedObject as well; a class
// factory does not, its locks do.

#include <windows.h>
#include <unknwn.h>

namespace quenvar::automation::windows {

// An object's own count; its interfaces' AddRef and Release hand over to addReference and
// releaseReference. Starts at one reference, which the creator owns.
class ReferenceCounted {
public:
    ReferenceCounted(const ReferenceCounted&) = delete;
    ReferenceCounted& operator=(const ReferenceCounted&) = delete;

protected:
    ReferenceCounted() = default;
    virtual ~ReferenceCounted() = default;

    ULONG addReference() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG releaseReference() {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) lastReferenceGone();
        return static_cast<ULONG>(left);
    }
    // An object that must outlive its last reference for a while (a call of its own still
    // under way) decides here when it goes.
    virtual void lastReferenceGone() { delete this; }

private:
    LONG references_ = 1;
};

// A COM object with one interface (and IUnknown). Objects answering more override
// QueryInterface and hand the rest to this one.
template <class Interface>
class ComObject : public Interface, protected ReferenceCounted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }
};

}  // namespace quenvar::automation::windows
