#include "platform/automation/windows/ComVariant.h"

#include "platform/automation/RuntimeError.h"
#include "platform/automation/windows/ComDispatch.h"

namespace quenvar::automation::windows {

std::string textFromBstr(BSTR text) {
    const int length = static_cast<int>(SysStringLen(text));
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, result.data(), size, nullptr, nullptr);
    return result;
}

BSTR bstrFromText(const std::string& text) {
    const int length = static_cast<int>(text.size());
    const int size = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(size));
    if (result != nullptr && size > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), length, result, size);
    return result;
}

namespace {

// The value's text in the invariant locale ("1.5", not "1,5"), for numbers the runtime has no
// type of its own for.
Variant invariantText(const VARIANT& value) {
    VARIANT text;
    VariantInit(&text);
    const HRESULT status = VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0, VT_BSTR);
    if (FAILED(status)) throw RuntimeError::typeMismatch();
    Variant result = Variant::fromText(textFromBstr(text.bstrVal));
    VariantClear(&text);
    return result;
}

Variant objectFromCom(IDispatch* object) {
    if (object == nullptr) return Variant::nullObject();
    // Only objects of this runtime can be held: the control works on their contents directly.
    ObjectRef behind = objectBehind(object);
    if (!behind) throw RuntimeError::typeMismatch();
    return Variant::fromObject(std::move(behind));
}

}  // namespace

Variant variantFromCom(const VARIANT& value) {
    const VARTYPE type = V_VT(&value);
    if (type == (VT_VARIANT | VT_BYREF)) {
        if (V_VARIANTREF(&value) == nullptr) throw RuntimeError::typeMismatch();
        return variantFromCom(*V_VARIANTREF(&value));
    }
    const bool byRef = (type & VT_BYREF) != 0;
    if (byRef && V_BYREF(&value) == nullptr) throw RuntimeError::typeMismatch();
    switch (type & ~VT_BYREF) {
        case VT_EMPTY: return Variant();
        case VT_I2: return Variant::fromInt16(byRef ? *V_I2REF(&value) : V_I2(&value));
        case VT_I4: return Variant::fromInt32(byRef ? *V_I4REF(&value) : V_I4(&value));
        case VT_BOOL: return Variant::fromBool((byRef ? *V_BOOLREF(&value) : V_BOOL(&value)) != VARIANT_FALSE);
        case VT_BSTR: return Variant::fromText(textFromBstr(byRef ? *V_BSTRREF(&value) : V_BSTR(&value)));
        case VT_DISPATCH: return objectFromCom(byRef ? *V_DISPATCHREF(&value) : V_DISPATCH(&value));
        case VT_UNKNOWN: {
            IUnknown* unknown = byRef ? *V_UNKNOWNREF(&value) : V_UNKNOWN(&value);
            if (unknown == nullptr) return Variant::nullObject();
            IDispatch* object = nullptr;
            if (FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object)))) {
                throw RuntimeError::typeMismatch();
            }
            Variant result;
            try {
                result = objectFromCom(object);
            } catch (...) {
                object->Release();
                throw;
            }
            object->Release();
            return result;
        }
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_DECIMAL: return invariantText(value);
        default: throw RuntimeError::typeMismatch();
    }
}

void variantToCom(const Variant& value, VARIANT* out) {
    switch (value.type()) {
        case VarType::Empty: V_VT(out) = VT_EMPTY; return;
        case VarType::Int16:
            V_VT(out) = VT_I2;
            V_I2(out) = value.toInt16();
            return;
        case VarType::Int32:
            V_VT(out) = VT_I4;
            V_I4(out) = value.toInt32();
            return;
        case VarType::Bool:
            V_VT(out) = VT_BOOL;
            V_BOOL(out) = value.toBool() ? VARIANT_TRUE : VARIANT_FALSE;
            return;
        case VarType::Text: {
            BSTR text = bstrFromText(value.toText());
            if (text == nullptr) throw std::bad_alloc();
            V_VT(out) = VT_BSTR;
            V_BSTR(out) = text;
            return;
        }
        case VarType::Object: {
            V_VT(out) = VT_DISPATCH;
            V_DISPATCH(out) = dispatchFor(value.toObject());
            return;
        }
    }
}

}  // namespace quenvar::automation::windows
