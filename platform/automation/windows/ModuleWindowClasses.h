#pragma once
// The window classes of an in-process server. The system keeps a class that a library
// registered after the library is unloaded, its window procedure pointing into the image that
// is gone: loaded again, the library would find its class names taken and go on without its
// windows. So the module registers its classes here, with its own instance, and unregisters
// them all when it is detached from the process.

#include <windows.h>

namespace quenvar::automation::windows {

// The class `name` of `module` with this window procedure, style and cursor: registered on the
// first call, the same atom after that (from any thread). A class of that name that an earlier
// load of the module left registered is replaced. 0 when the system refuses (GetLastError says
// why). At most eight classes per module.
ATOM moduleWindowClass(HINSTANCE module, const wchar_t* name, WNDPROC procedure, UINT style = 0,
                       HCURSOR cursor = nullptr);

// Unregisters every class moduleWindowClass registered; the module's entry routine calls it
// when the module is unloaded, after every window of its classes is gone.
void unregisterModuleWindowClasses(HINSTANCE module);

}  // namespace quenvar::automation::windows
