#include "platform/automation/windows/ComDispatch.h"

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation/windows/ComObject.h"
#include "platform/automation/windows/ComVariant.h"
#include "platform/automation/windows/ModuleCounts.h"

namespace quenvar::automation::windows {
namespace {

std::string nameText(LPOLESTR name) {
    const int size = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string text(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, name, -1, text.data(), size, nullptr, nullptr);
    return text;
}

// The kind of call the host's flags ask for; nothing for flags that name none. Script hosts set
// DISPATCH_METHOD and DISPATCH_PROPERTYGET together both to call a method and to read a
// property, some call a property read DISPATCH_METHOD alone, and some assign objects with
// DISPATCH_PROPERTYPUT: those conventions are read by the member's kind. Whether the member
// answers the kind that results is for the runtime's dispatch to decide.
std::optional<InvokeKind> kindOf(const MemberInfo* member, WORD flags, UINT argumentCount) {
    const std::optional<MemberKind> memberKind = member ? std::optional(member->kind) : std::nullopt;
    const bool putsAValue = (flags & DISPATCH_PROPERTYPUT) && memberKind == MemberKind::Property;
    if (flags & DISPATCH_PROPERTYPUTREF) return putsAValue ? InvokeKind::PropertyPut : InvokeKind::PropertyPutRef;
    if (flags & DISPATCH_PROPERTYPUT) {
        return memberKind == MemberKind::ObjectProperty ? InvokeKind::PropertyPutRef : InvokeKind::PropertyPut;
    }
    const bool isMethod = memberKind == MemberKind::Method;
    if ((flags & DISPATCH_METHOD) && (isMethod || ((flags & DISPATCH_PROPERTYGET) == 0 && argumentCount != 0))) {
        return InvokeKind::Method;
    }
    if (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) return InvokeKind::PropertyGet;
    return std::nullopt;
}

// Fills the host's EXCEPINFO and argument position for a run-time error of a call.
HRESULT reportCallError(const RuntimeError& error, const char* source, UINT argumentCount, EXCEPINFO* exception,
                        UINT* argumentError) {
    if (error.number() == error_number::MemberNotFound) return DISP_E_MEMBERNOTFOUND;
    if (error.number() == error_number::BadParameterCount) return DISP_E_BADPARAMCOUNT;
    // COM counts the arguments last first.
    if (argumentError != nullptr && error.argument() && *error.argument() < argumentCount) {
        *argumentError = static_cast<UINT>(argumentCount - 1 - *error.argument());
    }
    return reportException(error, source, exception);
}

class DispatchObject final : public ComObject<IDispatch> {
public:
    explicit DispatchObject(ObjectRef object) : object_(std::move(object)) {}

    const ObjectRef& object() const { return object_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out != nullptr && iid == runtimeObjectIid) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(iid, out);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return idsOfNames(object_->interfaceInfo(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override {
        // Held while the member runs: it may call back into a host that releases this object.
        const ObjectRef object = object_;
        return invokeMember(
            object->interfaceInfo(),
            [&](MemberId member, InvokeKind kind, std::span<Variant> args) {
                return object->invoke(member, kind, args);
            },
            "quenvar", id, flags, params, result, exception, argumentError);
    }

    // Answered only by objects of this runtime, so the runtime can find its object again.
    static constexpr IID runtimeObjectIid = {
        0x5b1e7c43, 0x0c2d, 0x4f7a, {0x9a, 0x61, 0x3e, 0x20, 0x84, 0xd1, 0x57, 0xc9}};

private:
    CountedObject counted_;
    ObjectRef object_;
};

}  // namespace

HRESULT scodeOf(std::int32_t errorNumber) {
    if (errorNumber < 0) return static_cast<HRESULT>(errorNumber);
    return static_cast<HRESULT>(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, errorNumber & 0xFFFF));
}

HRESULT reportException(const RuntimeError& error, const char* source, EXCEPINFO* exception) {
    if (exception != nullptr) {
        *exception = EXCEPINFO{};
        exception->bstrSource = bstrFromText(source);
        exception->bstrDescription = bstrFromText(error.description());
        exception->scode = scodeOf(error.number());
    }
    return DISP_E_EXCEPTION;
}

HRESULT idsOfNames(const InterfaceInfo& info, LPOLESTR* names, UINT count, DISPID* ids) {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    HRESULT status = S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const std::optional<MemberId> id = info.idOfName(nameText(names[0]));
    if (id) ids[0] = *id;
    if (!id || count > 1) status = DISP_E_UNKNOWNNAME;
    return status;
}

HRESULT invokeMember(const InterfaceInfo& info, const MemberInvoker& invoke, const char* source, DISPID id, WORD flags,
                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    static DISPPARAMS noParams{};
    if (params == nullptr) params = &noParams;
    const std::optional<InvokeKind> kind = kindOf(info.find(id), flags, params->cArgs);
    if (!kind) return DISP_E_MEMBERNOTFOUND;
    // A write names its one value DISPID_PROPERTYPUT; nothing else takes named arguments.
    const bool isPut = *kind == InvokeKind::PropertyPut || *kind == InvokeKind::PropertyPutRef;
    if (isPut) {
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
            return params->cNamedArgs == 0 ? DISP_E_PARAMNOTOPTIONAL : DISP_E_NONAMEDARGS;
        }
    } else if (params->cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }

    const UINT count = params->cArgs;
    try {
        // The arguments in the member's order (COM passes them last first), each as the runtime's
        // value; the runtime's dispatch checks and converts them.
        std::vector<Variant> args;
        args.reserve(count);
        for (UINT position = 0; position < count; ++position) {
            try {
                args.push_back(variantFromCom(params->rgvarg[count - 1 - position]));
            } catch (const RuntimeError& cause) {
                throw argumentNotTaken(info, id, *kind, count, position, cause);
            }
        }
        Variant value = invoke(id, *kind, args);
        if (result != nullptr) {
            VariantInit(result);
            if (*kind == InvokeKind::PropertyGet || *kind == InvokeKind::Method) variantToCom(value, result);
        }
        return S_OK;
    } catch (const RuntimeError& error) {
        return reportCallError(error, source, count, exception, argumentError);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& failure) {
        return reportException(RuntimeError(error_number::UnexpectedFailure, failure.what()), source, exception);
    }
}

IDispatch* dispatchFor(ObjectRef object) {
    if (!object) return nullptr;
    return new DispatchObject(std::move(object));
}

ObjectRef objectBehind(IDispatch* dispatch) {
    if (dispatch == nullptr) return nullptr;
    IDispatch* own = nullptr;
    if (FAILED(dispatch->QueryInterface(DispatchObject::runtimeObjectIid, reinterpret_cast<void**>(&own)))) {
        return nullptr;
    }
    ObjectRef object = static_cast<DispatchObject*>(own)->object();
    own->Release();
    return object;
}

}  // namespace quenvar::automation::windows
