#pragma once
// What a COM host does with the control, for the tests: create it by ProgID, call it late
// bound through IDispatch::Invoke by member id with VARIANT arguments, advise a sink on
// `__quenvar` (the message boxes it shows are read and closed by MessageBoxUser).

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/QuenvarIdentifiers.h"
#include "platform/automation/windows/ComConnectionPoint.h"

namespace quenvar::testing {

// An owned VARIANT.
struct Value {
    VARIANT v;
    Value() { VariantInit(&v); }
    ~Value() { VariantClear(&v); }
    Value(const Value& other) {
        VariantInit(&v);
        VariantCopy(&v, const_cast<VARIANT*>(&other.v));
    }
    Value& operator=(const Value& other) {
        if (this != &other) VariantCopy(&v, const_cast<VARIANT*>(&other.v));
        return *this;
    }
    static Value text(const wchar_t* text) {
        Value value;
        V_VT(&value.v) = VT_BSTR;
        V_BSTR(&value.v) = SysAllocString(text);
        return value;
    }
    static Value int16(short number) {
        Value value;
        V_VT(&value.v) = VT_I2;
        V_I2(&value.v) = number;
        return value;
    }
    static Value int32(long number) {
        Value value;
        V_VT(&value.v) = VT_I4;
        V_I4(&value.v) = number;
        return value;
    }
    std::wstring asText() const {
        return V_VT(&v) == VT_BSTR ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : L"?";
    }
};

// The result of one Invoke: its status and, for DISP_E_EXCEPTION, what EXCEPINFO said.
struct CallResult {
    HRESULT status = E_FAIL;
    Value value;
    HRESULT scode = 0;
    std::wstring description;
    std::wstring source;
    // Where Invoke said the failing argument is (COM counts last first), when it said.
    std::optional<UINT> argumentError;
};

inline std::wstring wideText(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// Invokes `id` with `args` in the order the member declares them (they are handed to COM
// last first, as hosts do). The arguments are passed as given: by value, or VT_BYREF.
inline CallResult invoke(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> args = {}) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID putId = DISPID_PROPERTYPUT;
    const bool isPut = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{reversed.data(), isPut ? &putId : nullptr, static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
    CallResult result;
    EXCEPINFO exception{};
    constexpr UINT untouched = ~0u;
    UINT argumentError = untouched;
    result.status =
        object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result.value.v, &exception, &argumentError);
    if (argumentError != untouched) result.argumentError = argumentError;
    if (result.status == DISP_E_EXCEPTION) {
        result.scode = exception.scode;
        result.description = wideText(exception.bstrDescription);
        result.source = wideText(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
    }
    return result;
}

inline CallResult call(IDispatch* object, DISPID id, std::vector<Value> args = {}) {
    std::vector<VARIANT> raw;
    for (const Value& arg : args) raw.push_back(arg.v);
    return invoke(object, id, DISPATCH_METHOD, raw);
}
inline CallResult get(IDispatch* object, DISPID id) { return invoke(object, id, DISPATCH_PROPERTYGET); }
inline CallResult put(IDispatch* object, DISPID id, const Value& value) {
    return invoke(object, id, DISPATCH_PROPERTYPUT, {value.v});
}

// COM on this thread for the whole test program, as a host's user-interface thread has it.
class ComApartment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(OleInitialize(nullptr)); }
    void TearDown() override { OleUninitialize(); }
};

// A new control, created as hosts create it: by ProgID through the registry.
inline IDispatch* createControl() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"Zelvo.quenvar", &clsid))) return nullptr;
    IDispatch* control = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&control)))) {
        return nullptr;
    }
    return control;
}

// A test (of the kind `Base`) with a new control of its own, released after it.
template <class Base = ::testing::Test>
class WithNewControl : public Base {
protected:
    void SetUp() override {
        control_ = createControl();
        ASSERT_NE(control_, nullptr) << "Zelvo.quenvar cannot be created: is it registered?";
    }
    void TearDown() override {
        if (control_ != nullptr) control_->Release();
    }
    IDispatch* control_ = nullptr;
};

// What one x10received brought a sink.
struct HeardEvent {
    std::wstring house, units, command;
    short level = 0;
    friend bool operator==(const HeardEvent&, const HeardEvent&) = default;
};

// A host's sink for `__quenvar`: counts x10ready and runs what the test asks inside it, and
// keeps x10received's arguments, which must come by reference as the type library declares them.
class EventSink final : public IDispatch {
public:
    std::atomic<int> x10readyCount{0};
    std::function<void()> onX10ready;
    std::vector<HeardEvent> heard;
    // Writes other values into x10received's arguments, as a handler that changes them does.
    bool changesArguments = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch ||
            iid == automation::windows::iidOf(control::identifiers::quenvarEvents)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (!(flags & DISPATCH_METHOD) || params == nullptr) return DISP_E_MEMBERNOTFOUND;
        if (id == 2 && params->cArgs == 4) return x10received(params->rgvarg);
        if (id != 1 || params->cArgs != 0) return DISP_E_MEMBERNOTFOUND;
        ++x10readyCount;
        if (onX10ready) onX10ready();
        return S_OK;
    }

    // Lives on the test's stack: the count only shows that the control let go of it.
    LONG references = 0;

private:
    // house, units, command as BSTR*, level as short*; last first.
    HRESULT x10received(VARIANT* args) {
        const VARTYPE text = VT_BSTR | VT_BYREF;
        if (V_VT(&args[3]) != text || V_VT(&args[2]) != text || V_VT(&args[1]) != text ||
            V_VT(&args[0]) != (VT_I2 | VT_BYREF)) {
            return DISP_E_TYPEMISMATCH;
        }
        heard.push_back({wideText(*V_BSTRREF(&args[3])), wideText(*V_BSTRREF(&args[2])), wideText(*V_BSTRREF(&args[1])),
                         *V_I2REF(&args[0])});
        if (changesArguments) {
            for (int i = 1; i <= 3; ++i) {
                SysFreeString(*V_BSTRREF(&args[i]));
                *V_BSTRREF(&args[i]) = SysAllocString(L"changed by the sink");
            }
            *V_I2REF(&args[0]) = 99;
        }
        return S_OK;
    }
};

// The connection point of `__quenvar`, found as hosts find it.
inline IConnectionPoint* eventConnectionPoint(IDispatch* control) {
    IConnectionPointContainer* container = nullptr;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
        return nullptr;
    IConnectionPoint* point = nullptr;
    container->FindConnectionPoint(automation::windows::iidOf(control::identifiers::quenvarEvents), &point);
    container->Release();
    return point;
}

}  // namespace quenvar::testing
