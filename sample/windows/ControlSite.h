#pragma once
// A control placed on a window through the system's ActiveX host window ("AtlAxWin" of
// atl.dll): created by its ProgID, sited, activated in place and drawn by the host window, and
// called late bound by member id through IDispatch::Invoke. The program never links the
// control's module.
//
// Calls pass their arguments by reference, as the control's methods declare them; each
// argument is a copy made for the call, so nothing the control does to it reaches the caller.
// A failed call raises automation::RuntimeError with the number and description a host shows:
// the language's run-time error N for 0x800A0000 + N, otherwise the status code itself.

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/automation/Dispatch.h"
#include "sample/windows/FormWindow.h"

namespace quenvar::sample::windows {

// One by-reference argument of a late-bound call: a text (BSTR) or a 16-bit integer.
class CallArgument {
public:
    static CallArgument text(std::wstring_view value);
    static CallArgument int16(std::int16_t value);
    ~CallArgument();
    CallArgument(CallArgument&& other) noexcept;
    CallArgument(const CallArgument&) = delete;
    CallArgument& operator=(const CallArgument&) = delete;
    CallArgument& operator=(CallArgument&&) = delete;

    // A VARIANT that refers to this argument's value (VT_BSTR | VT_BYREF or VT_I2 | VT_BYREF).
    VARIANT reference();

private:
    CallArgument() = default;
    VARTYPE type_ = VT_EMPTY;
    BSTR text_ = nullptr;
    SHORT number_ = 0;
};

class ControlSite {
public:
    // Places the control with `progId` at `place` on `parent` with the child id `id`; raises
    // automation::RuntimeError 429 when the control cannot be created.
    ControlSite(HWND parent, int id, const Twips& place, const wchar_t* progId);
    ~ControlSite();
    ControlSite(const ControlSite&) = delete;
    ControlSite& operator=(const ControlSite&) = delete;

    // Calls the method `member` with `arguments`, in order.
    void call(automation::MemberId member, std::span<CallArgument> arguments = {});

private:
    HWND host_ = nullptr;
    IDispatch* control_ = nullptr;
};

}  // namespace quenvar::sample::windows
