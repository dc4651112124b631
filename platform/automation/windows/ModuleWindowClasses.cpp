#include "platform/automation/windows/ModuleWindowClasses.h"

#include <cwchar>
#include <iterator>

namespace quenvar::automation::windows {
namespace {

// Plain data, so that it is still there when the module is detached, whatever the order in
// which the runtime destroys the module's objects.
struct RegisteredClass {
    const wchar_t* name;
    ATOM atom;
};
SRWLOCK lock = SRWLOCK_INIT;
RegisteredClass registered[8];
std::size_t registeredCount = 0;

ATOM registerClass(HINSTANCE module, const wchar_t* name, WNDPROC procedure, UINT style, HCURSOR cursor) {
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    description.style = style;
    description.lpfnWndProc = procedure;
    description.hInstance = module;
    description.hCursor = cursor;
    description.lpszClassName = name;
    ATOM atom = RegisterClassExW(&description);
    // Left behind by a load that did not clean up: its window procedure may lie in an image
    // that is gone, so the class is made again rather than reused.
    if (atom == 0 && GetLastError() == ERROR_CLASS_ALREADY_EXISTS && UnregisterClassW(name, module)) {
        atom = RegisterClassExW(&description);
    }
    return atom;
}

}  // namespace

ATOM moduleWindowClass(HINSTANCE module, const wchar_t* name, WNDPROC procedure, UINT style, HCURSOR cursor) {
    AcquireSRWLockExclusive(&lock);
    ATOM atom = 0;
    for (std::size_t i = 0; i < registeredCount && atom == 0; ++i) {
        if (std::wcscmp(registered[i].name, name) == 0) atom = registered[i].atom;
    }
    if (atom == 0 && registeredCount < std::size(registered)) {
        atom = registerClass(module, name, procedure, style, cursor);
        if (atom != 0) registered[registeredCount++] = {name, atom};
    }
    const DWORD error = GetLastError();
    ReleaseSRWLockExclusive(&lock);
    SetLastError(error);
    return atom;
}

void unregisterModuleWindowClasses(HINSTANCE module) {
    AcquireSRWLockExclusive(&lock);
    for (std::size_t i = 0; i < registeredCount; ++i) {
        UnregisterClassW(reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(registered[i].atom)), module);
    }
    registeredCount = 0;
    ReleaseSRWLockExclusive(&lock);
}

}  // namespace quenvar::automation::windows
