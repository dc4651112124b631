// The shared table of late-bound calls, made through IDispatch::Invoke with the arguments as a
// COM host passes them (by value, by reference, in a VARIANT by reference); the Linux build runs
// the same rows through the runtime's dispatch. Failures: DISP_E_MEMBERNOTFOUND and
// DISP_E_BADPARAMCOUNT as COM has them, run-time errors as EXCEPINFO with the failing argument's
// position.

#include <deque>

#include "tests/support/MemberCallTable.h"
#include "tests/windows/control/ControlHost.h"

namespace quenvar::testing {
namespace {

using automation::Variant;
using automation::VarType;
using member_calls::Argument;
using member_calls::Call;
using member_calls::Passed;

WORD flagsOf(automation::InvokeKind kind) {
    switch (kind) {
        case automation::InvokeKind::Method: return DISPATCH_METHOD;
        case automation::InvokeKind::PropertyGet: return DISPATCH_PROPERTYGET;
        case automation::InvokeKind::PropertyPut: return DISPATCH_PROPERTYPUT;
        case automation::InvokeKind::PropertyPutRef: return DISPATCH_PROPERTYPUTREF;
    }
    return 0;
}

// The single-byte texts of the table are ASCII: each character widens as it is.
std::wstring widened(const std::string& text) { return std::wstring(text.begin(), text.end()); }

Value valueOf(const Variant& value) {
    Value owned;
    switch (value.type()) {
        case VarType::Empty: break;
        case VarType::Int16: return Value::int16(value.toInt16());
        case VarType::Int32: return Value::int32(value.toInt32());
        case VarType::Bool:
            V_VT(&owned.v) = VT_BOOL;
            V_BOOL(&owned.v) = value.toBool() ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VarType::Text: return Value::text(widened(value.toText()).c_str());
        case VarType::Object:  // the table's only object value is the null reference
            V_VT(&owned.v) = VT_DISPATCH;
            V_DISPATCH(&owned.v) = nullptr;
            break;
    }
    return owned;
}

// What a VARIANT result holds, in the runtime's terms, for comparing with the table; an object
// as the null reference when there is one, so that only its presence is compared.
std::optional<Variant> runtimeValueOf(const VARIANT& value) {
    switch (V_VT(&value)) {
        case VT_EMPTY: return Variant();
        case VT_I2: return Variant::fromInt16(V_I2(&value));
        case VT_I4: return Variant::fromInt32(V_I4(&value));
        case VT_BOOL: return Variant::fromBool(V_BOOL(&value) != VARIANT_FALSE);
        case VT_BSTR: {
            const std::wstring text = wideText(V_BSTR(&value));
            return Variant::fromText(std::string(text.begin(), text.end()));
        }
        case VT_DISPATCH:
            if (V_DISPATCH(&value) != nullptr) return Variant::nullObject();
            return std::nullopt;
        default: return std::nullopt;
    }
}

// The run-time error number a host reads from a failed Invoke: a language error from its scode,
// an automation status as itself.
std::int32_t errorNumberOf(const CallResult& result) {
    if (SUCCEEDED(result.status)) return 0;
    if (result.status != DISP_E_EXCEPTION) return static_cast<std::int32_t>(result.status);
    if (HRESULT_FACILITY(result.scode) == FACILITY_CONTROL) return HRESULT_CODE(result.scode);
    return static_cast<std::int32_t>(result.scode);
}

class MemberCall : public WithNewControl<::testing::TestWithParam<Call>> {
protected:
    // The row's arguments as the host passes them; what a reference points to lives in `held_`.
    std::vector<VARIANT> argumentsOf(const std::vector<Argument>& args) {
        std::vector<VARIANT> passed;
        for (const Argument& arg : args) {
            held_.push_back(arg.sendQueue ? get(control_, control::member::colstring).value : valueOf(arg.value));
            VARIANT& value = held_.back().v;
            VARIANT argument;
            switch (arg.passed) {
                case Passed::Value: argument = value; break;
                case Passed::Reference:
                    V_VT(&argument) = V_VT(&value) | VT_BYREF;
                    V_BYREF(&argument) = &V_I2(&value);  // the union's storage, whichever member it holds
                    break;
                case Passed::VariantReference:
                    V_VT(&argument) = VT_VARIANT | VT_BYREF;
                    V_VARIANTREF(&argument) = &value;
                    break;
            }
            passed.push_back(argument);
        }
        return passed;
    }

    std::deque<Value> held_;
};

TEST_P(MemberCall, GivesTheAnswerOfTheTable) {
    const Call& row = GetParam();
    const std::vector<VARIANT> args = argumentsOf(row.args);
    const CallResult result = invoke(control_, row.member, flagsOf(row.kind), args);
    EXPECT_EQ(errorNumberOf(result), row.expected.error)
        << std::hex << result.status << " " << std::string(result.description.begin(), result.description.end());
    if (row.expected.argument) {
        ASSERT_EQ(result.status, DISP_E_EXCEPTION);
        EXPECT_EQ(result.argumentError, args.size() - 1 - *row.expected.argument);
        EXPECT_EQ(result.source, L"quenvar");
        const std::string member = control::quenvarInterface().find(row.member)->name;
        EXPECT_NE(result.description.find(widened(member)), std::wstring::npos);
    }
    if (FAILED(result.status)) return;
    const bool wrote =
        row.kind == automation::InvokeKind::PropertyPut || row.kind == automation::InvokeKind::PropertyPutRef;
    const CallResult read = wrote ? get(control_, row.member) : result;
    ASSERT_EQ(read.status, S_OK);
    const std::optional<Variant> value = runtimeValueOf(read.value.v);
    ASSERT_TRUE(value.has_value()) << "VARTYPE " << V_VT(&read.value.v);
    EXPECT_EQ(*value, row.expected.value);
}

INSTANTIATE_TEST_SUITE_P(Table, MemberCall, ::testing::ValuesIn(member_calls::memberCallTable()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quenvar::testing
