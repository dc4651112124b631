// The module's entry routine and its four exported entry points. Each hands over at once to
// the COM server runtime, which does the work from the project descriptor below: the
// library's type information, and for its one class what registration records and how to
// make an instance.

#include <windows.h>

#include "control/QuenvarRegistration.h"
#include "control/QuenvarSurface.h"
#include "control/windows/QuenvarComControl.h"
#include "platform/automation/windows/ComServer.h"
#include "platform/automation/windows/ModuleWindowClasses.h"

namespace quenvar::control {
namespace {

automation::windows::ComServer& quenvarServer() {
    static automation::windows::ComServer server(automation::windows::ProjectDescriptor{
        &quenvarTypeLibrary(),
        {quenvarRegistration<automation::windows::ClassCreator>([](REFIID iid, void** object) {
            QuenvarComControl* control = QuenvarComControl::create(quenvarServer().module());
            const HRESULT status = control->QueryInterface(iid, object);
            control->Release();
            return status;
        })},
    });
    return server;
}

// An entry point never lets an exception out to its host.
template <class Work>
HRESULT entryPoint(Work work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace
}  // namespace quenvar::control

using quenvar::control::entryPoint;
using quenvar::control::quenvarServer;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        quenvarServer().setModule(instance);
    }
    // Unloaded while the process goes on (COM frees unused libraries): the classes must not
    // outlive the window procedures they name. At the process's end nothing needs undoing.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        quenvar::automation::windows::unregisterModuleWindowClasses(instance);
    }
    return TRUE;
}

STDAPI DllRegisterServer() {
    return entryPoint([] { return quenvarServer().registerServer(); });
}

STDAPI DllUnregisterServer() {
    return entryPoint([] { return quenvarServer().unregisterServer(); });
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return entryPoint([&] { return quenvarServer().getClassObject(clsid, iid, object); });
}

STDAPI DllCanUnloadNow() {
    return entryPoint([] { return quenvarServer().canUnloadNow(); });
}
