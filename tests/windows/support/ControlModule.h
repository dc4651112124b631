#pragma once
// The control module of this build, found beside the test program and registered as regsvr32
// would register it, once per test program.

#include <windows.h>

#include <string>

namespace windows_tests {

inline std::wstring besideThisProgram(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

// S_OK when quenvar.ocx beside this program registered itself; the module stays loaded.
inline HRESULT registerControlModule() {
    HMODULE module = LoadLibraryW(besideThisProgram(L"quenvar.ocx").c_str());
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    return registerServer ? registerServer() : E_NOINTERFACE;
}

}  // namespace windows_tests
