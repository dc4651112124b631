#include "control/windows/QuenvarComControl.h"

#include <olectl.h>

#include <new>
#include <string>
#include <vector>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/windows/ComDispatch.h"
#include "platform/automation/windows/ComEnumerator.h"
#include "platform/automation/windows/ComVariant.h"
#include "platform/automation/windows/ModuleWindowClasses.h"
#include "platform/serial/windows/WinSerialComponent.h"

namespace quenvar::control {

using automation::windows::iidOf;

namespace {

const IID quenvarIid = iidOf(identifiers::quenvarInterface);
const IID eventsIid = iidOf(identifiers::quenvarEvents);
const CLSID quenvarClsid = iidOf(identifiers::quenvarClass);

constexpr const char* errorSource = "quenvar";
constexpr const wchar_t* windowClassName = L"quenvar.ControlKeeper";
constexpr UINT destroyMessage = WM_APP + 1;

// Arguments for the function table's calls, handed to Invoke as a host would pass them.
VARIANT byReference(BSTR* text) {
    VARIANT value;
    V_VT(&value) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&value) = text;
    return value;
}
VARIANT byReference(short* number) {
    VARIANT value;
    V_VT(&value) = VT_I2 | VT_BYREF;
    V_I2REF(&value) = number;
    return value;
}
VARIANT byValue(short number) {
    VARIANT value;
    V_VT(&value) = VT_I2;
    V_I2(&value) = number;
    return value;
}
VARIANT byValue(BSTR text) {
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text;
    return value;
}
VARIANT byValueBool(VARIANT_BOOL flag) {
    VARIANT value;
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = flag;
    return value;
}
VARIANT byValue(IDispatch* object) {
    VARIANT value;
    V_VT(&value) = VT_DISPATCH;
    V_DISPATCH(&value) = object;
    return value;
}

// Leaves the failure where IErrorInfo readers (VB, .NET) look for it.
void setErrorInfo(const EXCEPINFO& exception) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    create->SetGUID(quenvarIid);
    create->SetSource(exception.bstrSource);
    create->SetDescription(exception.bstrDescription);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

// Calls `id` through IDispatch::Invoke, so that the function table converts and fails exactly
// as late-bound calls do; a failure returns its scode and leaves IErrorInfo.
HRESULT callThroughDispatch(IDispatch& control, DISPID id, WORD flags, std::vector<VARIANT> argsInOrder,
                            VARIANT* result) {
    std::vector<VARIANT> reversed(argsInOrder.rbegin(), argsInOrder.rend());
    DISPID putId = DISPID_PROPERTYPUT;
    const bool isPut = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{reversed.data(), isPut ? &putId : nullptr, static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
    EXCEPINFO exception{};
    UINT argumentError = 0;
    HRESULT status =
        control.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, &argumentError);
    if (status == DISP_E_EXCEPTION) {
        setErrorInfo(exception);
        status = exception.scode;
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    return status;
}

// The property's value through IDispatch::Invoke, in the type its function returns: a failure
// leaves it empty (a null text or object, zero). VARIANT_BOOL is a short, and a VARIANT keeps
// both in the same place, so the one overload reads V_I2 and V_BOOL alike.
short valueOf(const VARIANT& value, short*) { return V_I2(&value); }
BSTR valueOf(const VARIANT& value, BSTR*) { return V_BSTR(&value); }
IDispatch* valueOf(const VARIANT& value, IDispatch**) { return V_DISPATCH(&value); }

template <class Value>
HRESULT getProperty(IDispatch& control, DISPID id, Value* value) {
    if (value == nullptr) return E_POINTER;
    VARIANT result;
    const HRESULT status = callThroughDispatch(control, id, DISPATCH_PROPERTYGET, {}, &result);
    *value = SUCCEEDED(status) ? valueOf(result, value) : Value{};
    return status;
}

// A method's arguments by reference and a property's new value by value, as hosts pass them.
template <class... Arguments>
HRESULT callMethod(IDispatch& control, DISPID id, Arguments*... arguments) {
    return callThroughDispatch(control, id, DISPATCH_METHOD, {byReference(arguments)...}, nullptr);
}

HRESULT putProperty(IDispatch& control, DISPID id, VARIANT value, WORD flags = DISPATCH_PROPERTYPUT) {
    return callThroughDispatch(control, id, flags, {value}, nullptr);
}

std::wstring modulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return path.substr(0, length);
        path.resize(path.size() * 2);
    }
}

}  // namespace

// Something of the control's under way (a call, a notification, an event): the control is not
// destroyed before it ends, even if its last reference goes meanwhile.
class QuenvarComControl::Activity {
public:
    explicit Activity(QuenvarComControl& control) : control_(control) { ++control_.activities_; }
    ~Activity() {
        if (--control_.activities_ == 0 && control_.destroyPending_) control_.destroyAfterActivity();
    }
    Activity(const Activity&) = delete;
    Activity& operator=(const Activity&) = delete;

private:
    QuenvarComControl& control_;
};

// MSComm1 as the core sees it: the Windows serial component, with each of its notifications
// and error reports held as an activity of the control.
class QuenvarComControl::GuardedSerialComponent final : public serial::SerialComponent {
public:
    GuardedSerialComponent(std::unique_ptr<serial::SerialComponent> port, QuenvarComControl& control)
        : port_(std::move(port)) {
        port_->setOnComm([this, &control] {
            Activity activity(control);
            if (onComm()) onComm()();
        });
        port_->setOnError([this, &control](const automation::RuntimeError& error) {
            Activity activity(control);
            if (onError()) onError()(error);
        });
    }

    void setCommPort(std::int16_t port) override { port_->setCommPort(port); }
    std::int16_t commPort() const override { return port_->commPort(); }
    void setPortOpen(bool open) override { port_->setPortOpen(open); }
    bool portOpen() const override { return port_->portOpen(); }
    void setOutput(const std::string& bytes) override { port_->setOutput(bytes); }
    std::string input() override { return port_->input(); }
    std::int16_t commEvent() const override { return port_->commEvent(); }

private:
    std::unique_ptr<serial::SerialComponent> port_;
};

QuenvarComControl* QuenvarComControl::create(HMODULE module) {
    return create(module, std::make_unique<serial::WinSerialComponent>());
}

QuenvarComControl* QuenvarComControl::create(HMODULE module, std::unique_ptr<serial::SerialComponent> port) {
    return new QuenvarComControl(module, std::move(port));
}

QuenvarComControl::QuenvarComControl(HMODULE module, std::unique_ptr<serial::SerialComponent> port)
    : module_(module),
      events_(static_cast<_quenvar&>(*this), quenvarEventInterface()),
      containment_(static_cast<_quenvar&>(*this), quenvarClsid, module,
                   [this](HWND owner) { boxes_.setOwner(owner); }) {
    const ATOM windowClass =
        automation::windows::moduleWindowClass(module, windowClassName, &QuenvarComControl::windowProcedure);
    if (windowClass != 0) {
        window_ = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(windowClass)), L"", 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, module, nullptr);
        if (window_ != nullptr) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    core_ = std::make_unique<Quenvar>(std::make_unique<GuardedSerialComponent>(std::move(port), *this), boxes_);
    core_->setX10readyHandler([this] { raiseEvent(event::x10ready, "x10ready"); });
    core_->setX10receivedHandler([this](const HeardFunction& heard) {
        const automation::Variant args[] = {
            automation::Variant::fromText(heard.house), automation::Variant::fromText(heard.units),
            automation::Variant::fromText(heard.command), automation::Variant::fromInt16(heard.level)};
        raiseEvent(event::x10received, "x10received", args);
    });
    core_->MSComm1().setOnError(
        [this](const automation::RuntimeError& error) { reportUnreachedError(error.description()); });
}

QuenvarComControl::~QuenvarComControl() {
    // Nothing may report into a control that is going away.
    core_->MSComm1().setOnError({});
    core_.reset();
    if (typeLibrary_ != nullptr) typeLibrary_->Release();
    if (window_ != nullptr) DestroyWindow(window_);
}

void QuenvarComControl::destroyAfterActivity() {
    // The activity may have been a notification, still inside the serial component: the
    // control goes once the thread's message loop is back, outside all of its code.
    if (window_ != nullptr && PostMessageW(window_, destroyMessage, 0, 0)) return;
    delete this;
}

LRESULT CALLBACK QuenvarComControl::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == destroyMessage) {
        delete reinterpret_cast<QuenvarComControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HRESULT QuenvarComControl::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == quenvarIid) {
        *out = static_cast<_quenvar*>(this);
    } else if (iid == IID_IConnectionPointContainer) {
        *out = static_cast<IConnectionPointContainer*>(this);
    } else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) {
        *out = static_cast<IProvideClassInfo2*>(this);
    } else if (iid == IID_ISupportErrorInfo) {
        *out = static_cast<ISupportErrorInfo*>(this);
    } else if (void* containerPart = containment_.find(iid)) {
        *out = containerPart;
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG QuenvarComControl::AddRef() { return addReference(); }

ULONG QuenvarComControl::Release() { return releaseReference(); }

void QuenvarComControl::lastReferenceGone() {
    if (activities_ > 0) {
        destroyPending_ = true;
    } else {
        delete this;
    }
}

HRESULT QuenvarComControl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT QuenvarComControl::typeInfoOf(const GUID& guid, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (typeLibrary_ == nullptr) {
        const HRESULT status = LoadTypeLibEx(modulePath(module_).c_str(), REGKIND_NONE, &typeLibrary_);
        if (FAILED(status)) return status;
    }
    return typeLibrary_->GetTypeInfoOfGuid(guid, info);
}

HRESULT QuenvarComControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return typeInfoOf(quenvarIid, info);
}

HRESULT QuenvarComControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return automation::windows::idsOfNames(quenvarInterface(), names, count, ids);
}

HRESULT QuenvarComControl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* exception, UINT* argumentError) {
    Activity activity(*this);
    return automation::windows::invokeMember(
        quenvarInterface(),
        [this](automation::MemberId member, automation::InvokeKind kind, std::span<automation::Variant> args) {
            return invokeQuenvarMember(*core_, member, kind, args);
        },
        errorSource, id, flags, params, result, exception, argumentError);
}

HRESULT QuenvarComControl::get_comstatus(short* value) { return getProperty(*this, member::comstatus, value); }
HRESULT QuenvarComControl::put_comstatus(short value) { return putProperty(*this, member::comstatus, byValue(value)); }
HRESULT QuenvarComControl::get_strtotal(BSTR* value) { return getProperty(*this, member::strtotal, value); }
HRESULT QuenvarComControl::put_strtotal(BSTR value) { return putProperty(*this, member::strtotal, byValue(value)); }
HRESULT QuenvarComControl::get_sendstatus(VARIANT_BOOL* value) { return getProperty(*this, member::sendstatus, value); }
HRESULT QuenvarComControl::put_sendstatus(VARIANT_BOOL value) {
    return putProperty(*this, member::sendstatus, byValueBool(value));
}
HRESULT QuenvarComControl::get_colstring(IDispatch** value) { return getProperty(*this, member::colstring, value); }
HRESULT QuenvarComControl::putref_colstring(IDispatch* value) {
    return putProperty(*this, member::colstring, byValue(value), DISPATCH_PROPERTYPUTREF);
}
HRESULT QuenvarComControl::get_checksum(BSTR* value) { return getProperty(*this, member::checksum, value); }
HRESULT QuenvarComControl::put_checksum(BSTR value) { return putProperty(*this, member::checksum, byValue(value)); }
HRESULT QuenvarComControl::get_countmacro(short* value) { return getProperty(*this, member::countmacro, value); }
HRESULT QuenvarComControl::put_countmacro(short value) {
    return putProperty(*this, member::countmacro, byValue(value));
}
HRESULT QuenvarComControl::get_powerfailreply(short* value) {
    return getProperty(*this, member::powerfailreply, value);
}
HRESULT QuenvarComControl::put_powerfailreply(short value) {
    return putProperty(*this, member::powerfailreply, byValue(value));
}
HRESULT QuenvarComControl::openx10(short* port) { return callMethod(*this, member::openx10, port); }
HRESULT QuenvarComControl::closex10() { return callMethod(*this, member::closex10); }
HRESULT QuenvarComControl::lightson(BSTR* house) { return callMethod(*this, member::lightson, house); }
HRESULT QuenvarComControl::sendx10(BSTR* str1, BSTR* str2) { return callMethod(*this, member::sendx10, str1, str2); }
HRESULT QuenvarComControl::Lightsoff(BSTR* house) { return callMethod(*this, member::Lightsoff, house); }
HRESULT QuenvarComControl::x10on(BSTR* house, BSTR* unit) { return callMethod(*this, member::x10on, house, unit); }
HRESULT QuenvarComControl::x10off(BSTR* house, BSTR* unit) { return callMethod(*this, member::x10off, house, unit); }
HRESULT QuenvarComControl::x10dim(BSTR* house, BSTR* unit, short* dimvalue) {
    return callMethod(*this, member::x10dim, house, unit, dimvalue);
}
HRESULT QuenvarComControl::x10brighten(BSTR* house, BSTR* unit, short* dimvalue) {
    return callMethod(*this, member::x10brighten, house, unit, dimvalue);
}
HRESULT QuenvarComControl::alloff(BSTR* house) { return callMethod(*this, member::alloff, house); }

HRESULT QuenvarComControl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points == nullptr) return E_POINTER;
    *points = automation::windows::ConnectionPointEnumerator::create({&events_});
    return *points != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT QuenvarComControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (iid != eventsIid) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

HRESULT QuenvarComControl::GetClassInfo(ITypeInfo** info) { return typeInfoOf(quenvarClsid, info); }

HRESULT QuenvarComControl::GetGUID(DWORD kind, GUID* guid) {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = eventsIid;
    return S_OK;
}

HRESULT QuenvarComControl::InterfaceSupportsErrorInfo(REFIID iid) { return iid == quenvarIid ? S_OK : S_FALSE; }

void QuenvarComControl::raiseEvent(automation::MemberId id, const std::string& name,
                                   std::span<const automation::Variant> args) {
    try {
        events_.raise(id, args);
    } catch (const automation::RuntimeError& error) {
        // A host's failing handler must not leave the handshake half done: the control finishes
        // its turn and tells the user what the handler reported.
        reportUnreachedError("The handler of the event " + name + " failed (error " + std::to_string(error.number()) +
                             "): " + error.description());
    } catch (const std::exception& failure) {
        reportUnreachedError("The handler of the event " + name + " failed: " + failure.what());
    }
}

void QuenvarComControl::reportUnreachedError(const std::string& description) {
    boxes_.showMessage(description, message::libraryTitle);
}

}  // namespace quenvar::control
