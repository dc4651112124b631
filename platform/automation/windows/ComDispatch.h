#pragma once
// IDispatch's work for objects described by the runtime's InterfaceInfo: names to ids, and
// Invoke, which only translates. It reads the host's flags as a kind of call and takes what
// real hosts pass (arguments by value, by reference, and VARIANTs holding a reference) into the
// runtime's values; the runtime's dispatch then decides everything else, exactly as for the
// hosts of the Linux runtime: whether the member answers that kind, the argument count, and each
// conversion to the declared type. Arguments are never written back.
//
// Errors reach the host as DISP_E_EXCEPTION with EXCEPINFO: a language run-time error N as
// scode 0x800A0000 + N (so a script sees Err.Number N), any other error number as itself, the
// error's description and the given source; for an argument that cannot be converted, its
// position in *argumentError (counted last first, as COM counts). An unknown id or a kind the
// member lacks answers DISP_E_MEMBERNOTFOUND, a wrong argument count DISP_E_BADPARAMCOUNT.

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <span>

#include "platform/automation/Dispatch.h"

namespace quenvar::automation::windows {

using MemberInvoker = std::function<Variant(MemberId, InvokeKind, std::span<Variant>)>;

// The ids of `count` names (the first is the member's; parameter names are not resolved),
// compared without regard to case. DISP_E_UNKNOWNNAME when any is unknown (its id is
// DISPID_UNKNOWN).
HRESULT idsOfNames(const InterfaceInfo& info, LPOLESTR* names, UINT count, DISPID* ids);

HRESULT invokeMember(const InterfaceInfo& info, const MemberInvoker& invoke, const char* source, DISPID id, WORD flags,
                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

// The scode a host receives for a run-time error of this number.
HRESULT scodeOf(std::int32_t errorNumber);
// Fills `exception` (when given) for `error`; returns DISP_E_EXCEPTION.
HRESULT reportException(const RuntimeError& error, const char* source, EXCEPINFO* exception);

// An IDispatch for an object of the runtime (such as a collection), answering its interface's
// members; the caller owns the reference returned. nullptr for the null reference.
IDispatch* dispatchFor(ObjectRef object);
// The runtime's object behind an IDispatch that dispatchFor handed out; nullptr for any other.
ObjectRef objectBehind(IDispatch* dispatch);

}  // namespace quenvar::automation::windows
