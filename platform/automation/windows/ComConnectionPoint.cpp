#include "platform/automation/windows/ComConnectionPoint.h"

#include <olectl.h>

#include <string>
#include <vector>

#include "platform/automation/windows/ComDispatch.h"
#include "platform/automation/windows/ComEnumerator.h"
#include "platform/automation/windows/ComVariant.h"

namespace quenvar::automation::windows {
namespace {

// A host's sink as the runtime's connection point calls it.
class ComSink final : public Dispatchable {
public:
    ComSink(IDispatch* sink, const InterfaceInfo& events) : sink_(sink), events_(&events) {}
    ~ComSink() override { sink_->Release(); }
    ComSink(const ComSink&) = delete;
    ComSink& operator=(const ComSink&) = delete;

    const InterfaceInfo& interfaceInfo() const override { return *events_; }
    IDispatch* sink() const { return sink_; }

    Variant invoke(MemberId id, InvokeKind, std::span<Variant> args) override {
        // The event's arguments by reference, as the type library declares an event's
        // parameters, to values of this sink's own: a sink may change them, nobody reads them
        // back, and the next sink gets the event as raised. Last first, as COM passes them.
        const MemberInfo* member = events_->find(id);
        const std::size_t count = args.size();
        std::vector<VARIANT> values(count);
        std::vector<VARIANT> references(count);
        for (std::size_t i = 0; i < count; ++i) {
            VariantInit(&values[i]);
            variantToCom(args[count - 1 - i], &values[i]);
            const std::size_t position = count - 1 - i;
            const bool declaredAsVariant = member == nullptr || position >= member->params.size() ||
                                           member->params[position].type == VarType::Empty;
            references[i] = referenceTo(values[i], declaredAsVariant);
        }
        DISPPARAMS params{references.data(), nullptr, static_cast<UINT>(references.size()), 0};
        EXCEPINFO exception{};
        UINT argumentError = 0;
        // Kept alive during the call, even if the host unadvises it meanwhile.
        sink_->AddRef();
        const HRESULT status = sink_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                             &exception, &argumentError);
        sink_->Release();
        for (VARIANT& value : values) VariantClear(&value);
        if (SUCCEEDED(status)) return Variant();
        if (status == DISP_E_MEMBERNOTFOUND || status == DISP_E_UNKNOWNNAME) {
            throw RuntimeError(error_number::MemberNotFound, "The sink does not handle this event");
        }
        if (status == DISP_E_EXCEPTION) {
            if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
            std::string description =
                exception.bstrDescription != nullptr ? textFromBstr(exception.bstrDescription) : "the sink failed";
            const HRESULT scode = exception.scode != 0 ? exception.scode : static_cast<HRESULT>(exception.wCode);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrHelpFile);
            throw RuntimeError(errorNumberOf(scode), description);
        }
        throw RuntimeError(static_cast<std::int32_t>(status), "The sink failed");
    }

    // A by-reference argument to `value`: a VARIANT* for a parameter of any type, else a
    // pointer to the value of its own type (BSTR*, short*...), which sits at the start of the
    // VARIANT's data whatever the type.
    static VARIANT referenceTo(VARIANT& value, bool declaredAsVariant) {
        VARIANT reference;
        VariantInit(&reference);
        if (declaredAsVariant || V_VT(&value) == VT_EMPTY) {
            V_VT(&reference) = VT_VARIANT | VT_BYREF;
            V_VARIANTREF(&reference) = &value;
        } else {
            V_VT(&reference) = static_cast<VARTYPE>(V_VT(&value) | VT_BYREF);
            V_BYREF(&reference) = &V_I2(&value);
        }
        return reference;
    }

    // A language error (0x800A0000 + N) as N, anything else as the status itself.
    static std::int32_t errorNumberOf(HRESULT scode) {
        if (HRESULT_FACILITY(scode) == FACILITY_CONTROL && (scode & 0x80000000)) return scode & 0xFFFF;
        return static_cast<std::int32_t>(scode);
    }

private:
    IDispatch* sink_;
    const InterfaceInfo* events_;
};

}  // namespace

IID iidOf(const Guid& guid) {
    const auto& b = guid.bytes;
    IID iid;
    iid.Data1 =
        (static_cast<DWORD>(b[0]) << 24) | (static_cast<DWORD>(b[1]) << 16) | (static_cast<DWORD>(b[2]) << 8) | b[3];
    iid.Data2 = static_cast<WORD>((b[4] << 8) | b[5]);
    iid.Data3 = static_cast<WORD>((b[6] << 8) | b[7]);
    for (int i = 0; i < 8; ++i) iid.Data4[i] = b[8 + i];
    return iid;
}

Guid guidOf(const IID& iid) {
    Guid guid;
    auto& b = guid.bytes;
    for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(iid.Data1 >> (24 - 8 * i));
    b[4] = static_cast<std::uint8_t>(iid.Data2 >> 8);
    b[5] = static_cast<std::uint8_t>(iid.Data2);
    b[6] = static_cast<std::uint8_t>(iid.Data3 >> 8);
    b[7] = static_cast<std::uint8_t>(iid.Data3);
    for (int i = 0; i < 8; ++i) b[8 + i] = iid.Data4[i];
    return guid;
}

ComConnectionPoint::ComConnectionPoint(IUnknown& owner, const InterfaceInfo& events)
    : owner_(owner), eventsIid_(iidOf(events.iid)), sinks_(events) {}

HRESULT ComConnectionPoint::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT ComConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = eventsIid_;
    return S_OK;
}

HRESULT ComConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    return owner_.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container));
}

HRESULT ComConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if (sink == nullptr) return E_POINTER;
    // A sink answers the event interface; hosts that sink any dispatch interface answer IDispatch.
    IDispatch* dispatch = nullptr;
    if (FAILED(sink->QueryInterface(eventsIid_, reinterpret_cast<void**>(&dispatch))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    try {
        *cookie = sinks_.advise(std::make_shared<ComSink>(dispatch, sinks_.eventInterface()));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT ComConnectionPoint::Unadvise(DWORD cookie) {
    try {
        sinks_.unadvise(cookie);
    } catch (const RuntimeError&) {
        return CONNECT_E_NOCONNECTION;
    }
    return S_OK;
}

HRESULT ComConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections == nullptr) return E_POINTER;
    *connections = nullptr;
    std::vector<CONNECTDATA> advised;
    try {
        for (const auto& [cookie, sink] : sinks_.connections()) {
            // Every sink here was advised through this connection point, so it is a host's sink.
            advised.push_back(CONNECTDATA{static_cast<const ComSink&>(*sink).sink(), cookie});
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *connections = ConnectionEnumerator::create(std::move(advised));
    return *connections != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace quenvar::automation::windows
