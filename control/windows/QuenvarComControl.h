#pragma once
// The quenvar control as COM hosts meet it on Windows: the dual interface `_quenvar` (late
// bound through IDispatch by the member ids, or early bound through its table of functions),
// the events of `__quenvar` through a connection point, and its class information. The
// behaviour is the Quenvar core it owns, driven through the same member table as on Linux.
//
// What a host may rely on:
// - Everything runs on the thread that created the control (apartment threading): calls, the
//   receive handler (from the serial component's notifications, between the host's calls)
//   and x10ready, which reaches every advised sink through IDispatch::Invoke with id 1.
// - A host may unadvise its sink or release the control inside x10ready, inside a message box
//   of the control or inside any other call: the control stays alive until the call, the
//   notification or the event has finished, and is destroyed after it.
// - Errors of a call return as DISP_E_EXCEPTION with EXCEPINFO (through IDispatch) or as the
//   error's status with IErrorInfo (through the function table): language run-time error N as
//   0x800A0000 + N, source "quenvar". Errors that reach no caller (a device that went away, a
//   failing sink) are shown in a message box titled "quenvar".
// - Arguments are never written back; texts are converted with the system's ANSI code page.

#include <windows.h>
#include <ocidl.h>

#include <memory>

#include "control/Quenvar.h"
#include "control/windows/ControlContainment.h"
#include "control/windows/QuenvarInterface.h"
#include "platform/automation/windows/ComConnectionPoint.h"
#include "platform/automation/windows/ComObject.h"
#include "platform/automation/windows/ModuleCounts.h"
#include "platform/serial/SerialComponent.h"
#include "platform/ui/windows/WinMessageBoxes.h"

namespace quenvar::control {

class QuenvarComControl final : public _quenvar,
                                public IConnectionPointContainer,
                                public IProvideClassInfo2,
                                public ISupportErrorInfo,
                                private automation::windows::ReferenceCounted {
public:
    // A new control with one reference, which the caller owns. `module` is the module that
    // carries the type library.
    static QuenvarComControl* create(HMODULE module);
    // The same over another serial component than the system's ports (the benchmarks run it
    // over one with nothing behind it).
    static QuenvarComControl* create(HMODULE module, std::unique_ptr<serial::SerialComponent> port);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override;

    // _quenvar, the functions behind the member ids
    HRESULT STDMETHODCALLTYPE get_comstatus(short* value) override;
    HRESULT STDMETHODCALLTYPE put_comstatus(short value) override;
    HRESULT STDMETHODCALLTYPE get_strtotal(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_strtotal(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_sendstatus(VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE put_sendstatus(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE get_colstring(IDispatch** value) override;
    HRESULT STDMETHODCALLTYPE putref_colstring(IDispatch* value) override;
    HRESULT STDMETHODCALLTYPE get_checksum(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_checksum(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_countmacro(short* value) override;
    HRESULT STDMETHODCALLTYPE put_countmacro(short value) override;
    HRESULT STDMETHODCALLTYPE get_powerfailreply(short* value) override;
    HRESULT STDMETHODCALLTYPE put_powerfailreply(short value) override;
    HRESULT STDMETHODCALLTYPE openx10(short* port) override;
    HRESULT STDMETHODCALLTYPE closex10() override;
    HRESULT STDMETHODCALLTYPE lightson(BSTR* house) override;
    HRESULT STDMETHODCALLTYPE sendx10(BSTR* str1, BSTR* str2) override;
    HRESULT STDMETHODCALLTYPE Lightsoff(BSTR* house) override;
    HRESULT STDMETHODCALLTYPE x10on(BSTR* house, BSTR* unit) override;
    HRESULT STDMETHODCALLTYPE x10off(BSTR* house, BSTR* unit) override;
    HRESULT STDMETHODCALLTYPE x10dim(BSTR* house, BSTR* unit, short* dimvalue) override;
    HRESULT STDMETHODCALLTYPE x10brighten(BSTR* house, BSTR* unit, short* dimvalue) override;
    HRESULT STDMETHODCALLTYPE alloff(BSTR* house) override;

    // IConnectionPointContainer: the one connection point of `__quenvar`.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

    // ISupportErrorInfo: the functions of _quenvar leave IErrorInfo on failure.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

private:
    class Activity;
    class GuardedSerialComponent;

    QuenvarComControl(HMODULE module, std::unique_ptr<serial::SerialComponent> port);
    ~QuenvarComControl();

    // Runs the member through the table for the function table: failures as status + IErrorInfo.
    HRESULT callMember(automation::MemberId id, automation::InvokeKind kind, std::vector<automation::Variant> args,
                       automation::Variant* result = nullptr);
    HRESULT typeInfoOf(const GUID& guid, ITypeInfo** info);
    // Raises the event through the connection point; a failing handler is shown in a box.
    void raiseEvent(automation::MemberId id, const std::string& name, std::span<const automation::Variant> args = {});
    void reportUnreachedError(const std::string& description);
    // Called when the last reference went during an activity, once the last activity ends.
    void destroyAfterActivity();
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The last reference gone during an activity: destroyed once the last activity ends.
    void lastReferenceGone() override;

    automation::windows::CountedObject counted_;
    HMODULE module_;
    // Calls, notifications and events under way; the control is destroyed only at none.
    int activities_ = 0;
    bool destroyPending_ = false;
    // A message-only window of this thread that destroys the control after a notification.
    HWND window_ = nullptr;
    ITypeLib* typeLibrary_ = nullptr;
    ui::WinMessageBoxes boxes_;
    automation::windows::ComConnectionPoint events_;
    std::unique_ptr<Quenvar> core_;
    // Siting, in-place activation, the face and persistence: what containers use. Its message
    // boxes belong to the container's window while the control is active in place there.
    ControlContainment containment_;
};

}  // namespace quenvar::control
