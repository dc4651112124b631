#include "platform/automation/windows/ComServer.h"

#include <oleauto.h>
#include <olectl.h>

#include <new>

#include "platform/automation/windows/ComConnectionPoint.h"
#include "platform/automation/windows/ComObject.h"
#include "platform/automation/windows/ModuleCounts.h"

// In oleaut32 since Windows Vista; the cross compiler's headers lack them.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpFolder);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND system);
}

namespace quenvar::automation::windows {
namespace {

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Creates `subkey` under `root` and sets one value ("" names the default value).
LSTATUS setValue(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
}

LSTATUS createKey(HKEY root, const std::wstring& subkey) {
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
}

class ClassesRoot {
public:
    ClassesRoot(HKEY hive, REGSAM access) {
        if (RegCreateKeyExW(hive, L"Software\\Classes", 0, nullptr, 0, access, nullptr, &key_, nullptr) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~ClassesRoot() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    ClassesRoot(const ClassesRoot&) = delete;
    ClassesRoot& operator=(const ClassesRoot&) = delete;
    HKEY key() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Everything a host looks for about one class, under one classes root.
LSTATUS writeClass(HKEY root, const ClassRegistration& serverClass, const ClassInfo& info, const std::wstring& path,
                   const std::wstring& libid) {
    const std::wstring name = wide(info.name);
    const std::wstring clsid = wide(serverClass.clsid.toString());
    const std::wstring progId = wide(serverClass.progId);
    const std::wstring classKey = L"CLSID\\" + clsid;
    std::vector<std::pair<std::wstring, std::pair<const wchar_t*, std::wstring>>> values = {
        {progId, {L"", name}},
        {progId + L"\\CLSID", {L"", clsid}},
        {classKey, {L"", name}},
        {classKey + L"\\InprocServer32", {L"", path}},
        {classKey + L"\\InprocServer32", {L"ThreadingModel", wide(serverClass.threadingModel)}},
        {classKey + L"\\ProgID", {L"", progId}},
        {classKey + L"\\TypeLib", {L"", libid}},
        {classKey + L"\\Version", {L"", wide(serverClass.version)}},
    };
    if (serverClass.miscStatus != 0) {
        values.push_back({classKey + L"\\MiscStatus", {L"", L"0"}});
        values.push_back({classKey + L"\\MiscStatus\\1", {L"", std::to_wstring(serverClass.miscStatus)}});
    }
    if (serverClass.toolboxBitmap != 0) {
        values.push_back(
            {classKey + L"\\ToolboxBitmap32", {L"", path + L", " + std::to_wstring(serverClass.toolboxBitmap)}});
    }
    for (const auto& [subkey, value] : values) {
        const LSTATUS status = setValue(root, subkey, value.first, value.second);
        if (status != ERROR_SUCCESS) return status;
    }
    return info.isControl ? createKey(root, classKey + L"\\Control") : ERROR_SUCCESS;
}

void removeClass(HKEY root, const ClassRegistration& serverClass) {
    RegDeleteTreeW(root, (L"CLSID\\" + wide(serverClass.clsid.toString())).c_str());
    RegDeleteKeyW(root, (L"CLSID\\" + wide(serverClass.clsid.toString())).c_str());
    RegDeleteTreeW(root, wide(serverClass.progId).c_str());
    RegDeleteKeyW(root, wide(serverClass.progId).c_str());
}

SYSKIND thisSystem() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

// Not counted among the module's objects: a host keeps the module through LockServer.
class ClassFactory final : public ComObject<IClassFactory> {
public:
    explicit ClassFactory(const ClassRegistration& serverClass) : class_(serverClass) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        try {
            return class_.create(iid, object);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        serverLocked(lock != FALSE);
        return S_OK;
    }

private:
    const ClassRegistration& class_;
};

}  // namespace

ComServer::ComServer(ProjectDescriptor descriptor) : descriptor_(std::move(descriptor)) {
    checkDescriptor(descriptor_);
}

const ClassInfo& ComServer::classInfo(const ClassRegistration& registration) const {
    return *descriptor_.typeLibrary->findClass(registration.clsid);
}

std::wstring ComServer::modulePath() const {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module_, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HRESULT ComServer::registerServer() const {
    const std::wstring path = modulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    const std::wstring libid = wide(descriptor_.typeLibrary->library.libid.toString());

    // The machine's classes, or the user's own when the machine's may not be written.
    bool forUser = false;
    LSTATUS status = ERROR_ACCESS_DENIED;
    {
        ClassesRoot machine(HKEY_LOCAL_MACHINE, KEY_CREATE_SUB_KEY | KEY_SET_VALUE);
        if (machine.key() != nullptr) {
            status = ERROR_SUCCESS;
            for (const ClassRegistration& serverClass : descriptor_.classes) {
                status = writeClass(machine.key(), serverClass, classInfo(serverClass), path, libid);
                if (status != ERROR_SUCCESS) break;
            }
        }
    }
    if (status == ERROR_ACCESS_DENIED) {
        forUser = true;
        ClassesRoot user(HKEY_CURRENT_USER, KEY_CREATE_SUB_KEY | KEY_SET_VALUE);
        if (user.key() == nullptr) return SELFREG_E_CLASS;
        for (const ClassRegistration& serverClass : descriptor_.classes) {
            status = writeClass(user.key(), serverClass, classInfo(serverClass), path, libid);
            if (status != ERROR_SUCCESS) break;
        }
    }
    if (status != ERROR_SUCCESS) return SELFREG_E_CLASS;

    ITypeLib* library = nullptr;
    HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(result)) return SELFREG_E_TYPELIB;
    std::wstring pathText = path;  // the registration functions take a writable text
    if (!forUser) result = RegisterTypeLib(library, pathText.data(), nullptr);
    if (forUser || FAILED(result)) result = RegisterTypeLibForUser(library, pathText.data(), nullptr);
    library->Release();
    return SUCCEEDED(result) ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT ComServer::unregisterServer() const {
    const TypeLibraryInfo& lib = descriptor_.typeLibrary->library;
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        ClassesRoot root(hive, KEY_READ | DELETE | KEY_SET_VALUE);
        if (root.key() == nullptr) continue;
        for (const ClassRegistration& serverClass : descriptor_.classes) removeClass(root.key(), serverClass);
    }
    const IID libid = iidOf(lib.libid);
    UnRegisterTypeLib(libid, lib.majorVersion, lib.minorVersion, lib.lcid, thisSystem());
    UnRegisterTypeLibForUser(libid, lib.majorVersion, lib.minorVersion, lib.lcid, thisSystem());
    return S_OK;
}

HRESULT ComServer::getClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    const Guid wanted = guidOf(clsid);
    for (const ClassRegistration& serverClass : descriptor_.classes) {
        if (serverClass.clsid != wanted) continue;
        auto* factory = new (std::nothrow) ClassFactory(serverClass);
        if (factory == nullptr) return E_OUTOFMEMORY;
        const HRESULT status = factory->QueryInterface(iid, object);
        factory->Release();
        return status;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComServer::canUnloadNow() const { return serverInUse() ? S_FALSE : S_OK; }

}  // namespace quenvar::automation::windows
