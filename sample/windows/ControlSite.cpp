#include "sample/windows/ControlSite.h"

#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/automation/RuntimeError.h"

namespace quenvar::sample::windows {

namespace {

using automation::RuntimeError;

constexpr const wchar_t* hostWindowClass = L"AtlAxWin";
constexpr HRESULT languageErrorBase = static_cast<HRESULT>(0x800A0000);

// atl.dll is part of the system; it is loaded, not linked, so that a system without it gets a
// clear message rather than a program that does not start.
struct ActiveXHost {
    using GetControl = HRESULT(WINAPI*)(HWND, IUnknown**);
    GetControl getControl = nullptr;

    ActiveXHost() {
        HMODULE atl = LoadLibraryW(L"atl.dll");
        if (!atl) return;
        using WindowInit = BOOL(WINAPI*)();
        auto init = reinterpret_cast<WindowInit>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
        getControl = reinterpret_cast<GetControl>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
        if (!init || !getControl || !init()) getControl = nullptr;
    }
};

const ActiveXHost& activeXHost() {
    static const ActiveXHost host;
    return host;
}

RuntimeError cannotCreate(const wchar_t* progId, const std::string& why) {
    std::string name;
    for (const wchar_t* c = progId; *c; ++c) name += static_cast<char>(*c);  // ProgIDs are ASCII
    return {automation::error_number::CannotCreateObject,
            "ActiveX component can't create object (" + name + ": " + why + ")"};
}

std::string toCodePage(const wchar_t* text) {
    if (!text || !*text) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(result.size() - 1);  // the terminator
    return result;
}

std::string systemMessage(HRESULT status) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? toCodePage(text) : std::string("Automation error");
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}

// The error a host reports for a failed call: the language's run-time errors by their own
// number, anything else by its status code.
RuntimeError callError(HRESULT status, EXCEPINFO& exception) {
    if (status != DISP_E_EXCEPTION) return {static_cast<std::int32_t>(status), systemMessage(status)};
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    const HRESULT code = exception.scode ? exception.scode : static_cast<HRESULT>(exception.wCode);
    std::string description = toCodePage(exception.bstrDescription);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    if (description.empty()) description = systemMessage(code);
    const bool languageError = (code & static_cast<HRESULT>(0xFFFF0000)) == languageErrorBase;
    return {languageError ? static_cast<std::int32_t>(code & 0xFFFF) : static_cast<std::int32_t>(code),
            std::move(description)};
}

}  // namespace

CallArgument CallArgument::text(std::wstring_view value) {
    CallArgument argument;
    argument.type_ = VT_BSTR;
    argument.text_ = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    if (!argument.text_) throw std::bad_alloc();
    return argument;
}

CallArgument CallArgument::int16(std::int16_t value) {
    CallArgument argument;
    argument.type_ = VT_I2;
    argument.number_ = value;
    return argument;
}

CallArgument::~CallArgument() { SysFreeString(text_); }

CallArgument::CallArgument(CallArgument&& other) noexcept
    : type_(other.type_), text_(std::exchange(other.text_, nullptr)), number_(other.number_) {}

VARIANT CallArgument::reference() {
    VARIANT reference;
    VariantInit(&reference);
    reference.vt = static_cast<VARTYPE>(type_ | VT_BYREF);
    if (type_ == VT_BSTR) {
        reference.pbstrVal = &text_;
    } else {
        reference.piVal = &number_;
    }
    return reference;
}

ControlSite::ControlSite(HWND parent, int id, const Twips& place, const wchar_t* progId) {
    const ActiveXHost& activeX = activeXHost();
    if (!activeX.getControl) throw cannotCreate(progId, "the system's ActiveX host window (atl.dll) is missing");
    const RECT pixels = toPixels(place);
    // The host window creates the control from its window text when it is created.
    host_ = CreateWindowExW(0, hostWindowClass, progId, WS_CHILD | WS_VISIBLE | WS_TABSTOP, pixels.left, pixels.top,
                            pixels.right - pixels.left, pixels.bottom - pixels.top, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!host_) throw cannotCreate(progId, "no host window");
    IUnknown* control = nullptr;
    if (FAILED(activeX.getControl(host_, &control)) || !control) {
        DestroyWindow(host_);
        CLSID classId;
        throw cannotCreate(progId, FAILED(CLSIDFromProgID(progId, &classId)) ? "not registered" : "creation failed");
    }
    const HRESULT dispatch = control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&control_));
    control->Release();
    if (FAILED(dispatch)) {
        DestroyWindow(host_);
        throw cannotCreate(progId, "no IDispatch");
    }
}

ControlSite::~ControlSite() {
    // The host window holds the control too; destroying it (here or with the parent) releases it.
    if (control_) control_->Release();
    if (IsWindow(host_)) DestroyWindow(host_);
}

void ControlSite::call(automation::MemberId member, std::span<CallArgument> arguments) {
    // IDispatch takes the arguments last to first.
    std::vector<VARIANT> references;
    references.reserve(arguments.size());
    for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument) {
        references.push_back(argument->reference());
    }
    DISPPARAMS parameters{references.data(), nullptr, static_cast<UINT>(references.size()), 0};
    EXCEPINFO exception{};
    UINT wrongArgument = 0;
    const HRESULT status = control_->Invoke(static_cast<DISPID>(member), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                            &parameters, nullptr, &exception, &wrongArgument);
    if (FAILED(status)) throw callError(status, exception);
}

}  // namespace quenvar::sample::windows
