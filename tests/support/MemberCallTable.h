#pragma once
// One table of late-bound calls of the control and what each gives, the same on every platform:
// on Linux through the runtime's dispatch as its hosts call it, on Windows through
// IDispatch::Invoke under Wine. Each row runs on a new control whose port is closed, and none
// reaches a member that would write to the line or show a box.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "control/QuenvarSurface.h"
#include "platform/automation/Dispatch.h"

namespace quenvar::testing::member_calls {

// How a COM host hands an argument over: as a value, by reference (VT_BYREF), or as a VARIANT by
// reference, as VBScript passes its variables. The runtime on Linux takes every argument as a
// value, so there the three are the same call.
enum class Passed { Value, Reference, VariantReference };

struct Argument {
    automation::Variant value;
    Passed passed = Passed::Value;
    // Stands for the control's own send queue (what its colstring reads), fetched before the call.
    bool sendQueue = false;
};

struct Expected {
    // 0: the call succeeds; otherwise the run-time error number it fails with.
    std::int32_t error = 0;
    // For an argument that cannot be converted: its position in the member's order.
    std::optional<std::size_t> argument;
    // What the call returns; after a write, what reading the member gives. Of an object, only
    // that it is one.
    automation::Variant value;
};

struct Call {
    std::string name;  // letters, digits and underscores: it names the test
    automation::MemberId member;
    automation::InvokeKind kind;
    std::vector<Argument> args;
    Expected expected;
};

// Tests name a row by its name alone.
inline void PrintTo(const Call& call, std::ostream* out) { *out << call.name; }

namespace rows {
inline Argument text(std::string value, Passed passed = Passed::Value) {
    return {automation::Variant::fromText(std::move(value)), passed};
}
inline Argument int16(std::int16_t value, Passed passed = Passed::Value) {
    return {automation::Variant::fromInt16(value), passed};
}
inline Argument int32(std::int32_t value, Passed passed = Passed::Value) {
    return {automation::Variant::fromInt32(value), passed};
}
inline Argument boolean(bool value, Passed passed = Passed::Value) {
    return {automation::Variant::fromBool(value), passed};
}
inline Argument nothing() { return {automation::Variant::nullObject()}; }
inline Argument sendQueue() { return {automation::Variant(), Passed::Value, true}; }

inline Expected gives(automation::Variant value) { return {0, std::nullopt, std::move(value)}; }
inline Expected givesAnObject() { return gives(automation::Variant::nullObject()); }
inline Expected fails(std::int32_t error) { return {error, std::nullopt, {}}; }
inline Expected failsAt(std::int32_t error, std::size_t argument) { return {error, argument, {}}; }
}  // namespace rows

inline std::vector<Call> memberCallTable() {
    using namespace rows;
    using automation::Variant;
    using K = automation::InvokeKind;
    namespace m = control::member;
    namespace en = automation::error_number;
    constexpr auto ref = Passed::Reference;
    constexpr auto inVariant = Passed::VariantReference;
    const Variant none;
    return {
        // Every field as a new control has it.
        {"comstatus_reads_0", m::comstatus, K::PropertyGet, {}, gives(Variant::fromInt16(0))},
        {"strtotal_reads_empty", m::strtotal, K::PropertyGet, {}, gives(Variant::fromText(""))},
        {"sendstatus_reads_false", m::sendstatus, K::PropertyGet, {}, gives(Variant::fromBool(false))},
        {"colstring_reads_a_queue", m::colstring, K::PropertyGet, {}, givesAnObject()},
        {"checksum_reads_empty", m::checksum, K::PropertyGet, {}, gives(Variant::fromText(""))},
        {"countmacro_reads_0", m::countmacro, K::PropertyGet, {}, gives(Variant::fromInt16(0))},
        // Writes, converted to the field's type.
        {"text_12_into_an_integer", m::countmacro, K::PropertyPut, {text("12")}, gives(Variant::fromInt16(12))},
        {"letters_into_an_integer", m::countmacro, K::PropertyPut, {text("x")}, failsAt(en::TypeMismatch, 0)},
        {"40000_into_an_integer", m::countmacro, K::PropertyPut, {int32(40000)}, failsAt(en::Overflow, 0)},
        {"text_40000_into_an_integer", m::countmacro, K::PropertyPut, {text("40000")}, failsAt(en::Overflow, 0)},
        {"integer_by_reference", m::countmacro, K::PropertyPut, {int16(7, ref)}, gives(Variant::fromInt16(7))},
        {"text_in_a_variant_by_reference",
         m::countmacro,
         K::PropertyPut,
         {text(" -7 ", inVariant)},
         gives(Variant::fromInt16(-7))},
        {"true_into_an_integer", m::comstatus, K::PropertyPut, {boolean(true)}, gives(Variant::fromInt16(-1))},
        {"5_into_a_boolean", m::sendstatus, K::PropertyPut, {int32(5)}, gives(Variant::fromBool(true))},
        {"text_False_into_a_boolean", m::sendstatus, K::PropertyPut, {text("False")}, gives(Variant::fromBool(false))},
        {"boolean_by_reference", m::sendstatus, K::PropertyPut, {boolean(true, ref)}, gives(Variant::fromBool(true))},
        {"letters_into_a_boolean", m::sendstatus, K::PropertyPut, {text("x")}, failsAt(en::TypeMismatch, 0)},
        {"integer_into_a_text", m::strtotal, K::PropertyPut, {int16(12)}, gives(Variant::fromText("12"))},
        {"boolean_in_a_variant_into_a_text",
         m::checksum,
         K::PropertyPut,
         {boolean(true, inVariant)},
         gives(Variant::fromText("True"))},
        {"queue_set_by_reference", m::colstring, K::PropertyPutRef, {sendQueue()}, givesAnObject()},
        {"nothing_set_by_reference", m::colstring, K::PropertyPutRef, {nothing()}, givesAnObject()},
        {"number_set_by_reference", m::colstring, K::PropertyPutRef, {int16(1)}, failsAt(en::TypeMismatch, 0)},
        {"text_set_by_reference", m::colstring, K::PropertyPutRef, {text("x", ref)}, failsAt(en::TypeMismatch, 0)},
        {"powerfailreply_reads_0", m::powerfailreply, K::PropertyGet, {}, gives(Variant::fromInt16(0))},
        {"powerfailreply_takes_1", m::powerfailreply, K::PropertyPut, {int16(1)}, gives(Variant::fromInt16(1))},
        {"powerfailreply_takes_text_0", m::powerfailreply, K::PropertyPut, {text("0")}, gives(Variant::fromInt16(0))},
        {"powerfailreply_refuses_2", m::powerfailreply, K::PropertyPut, {int16(2)}, fails(en::InvalidPropertyValue)},
        {"putref_on_a_plain_field", m::countmacro, K::PropertyPutRef, {nothing()}, fails(en::MemberNotFound)},
        {"write_without_a_value", m::countmacro, K::PropertyPut, {}, fails(en::BadParameterCount)},
        {"read_with_an_argument", m::comstatus, K::PropertyGet, {int16(1)}, fails(en::BadParameterCount)},
        // Every method: the wrong count, a kind it lacks, and its integers from texts.
        {"closex10_runs", m::closex10, K::Method, {}, gives(none)},
        {"closex10_with_an_argument", m::closex10, K::Method, {int16(1)}, fails(en::BadParameterCount)},
        {"openx10_without_its_port", m::openx10, K::Method, {}, fails(en::BadParameterCount)},
        {"openx10_letters", m::openx10, K::Method, {text("x")}, failsAt(en::TypeMismatch, 0)},
        {"openx10_40000", m::openx10, K::Method, {int32(40000)}, failsAt(en::Overflow, 0)},
        {"openx10_text_40000_by_reference", m::openx10, K::Method, {text("40000", ref)}, failsAt(en::Overflow, 0)},
        {"openx10_an_object", m::openx10, K::Method, {sendQueue()}, failsAt(en::TypeMismatch, 0)},
        {"lightson_without_its_house", m::lightson, K::Method, {}, fails(en::BadParameterCount)},
        {"lightson_written", m::lightson, K::PropertyPut, {text("A")}, fails(en::MemberNotFound)},
        {"sendx10_with_one_text", m::sendx10, K::Method, {text("A")}, fails(en::BadParameterCount)},
        {"sendx10_read", m::sendx10, K::PropertyGet, {}, fails(en::MemberNotFound)},
        {"Lightsoff_with_two_texts", m::Lightsoff, K::Method, {text("A"), text("B")}, fails(en::BadParameterCount)},
        {"x10on_with_one_text", m::x10on, K::Method, {text("A")}, fails(en::BadParameterCount)},
        {"x10on_written", m::x10on, K::PropertyPut, {text("A")}, fails(en::MemberNotFound)},
        {"x10on_an_object_for_the_house", m::x10on, K::Method, {sendQueue(), text("01")}, failsAt(en::TypeMismatch, 0)},
        {"x10off_with_three_texts",
         m::x10off,
         K::Method,
         {text("A"), text("01"), text("1")},
         fails(en::BadParameterCount)},
        {"x10off_read", m::x10off, K::PropertyGet, {}, fails(en::MemberNotFound)},
        {"x10dim_letters", m::x10dim, K::Method, {text("A"), text("01"), text("x")}, failsAt(en::TypeMismatch, 2)},
        {"x10dim_letters_by_reference",
         m::x10dim,
         K::Method,
         {text("A", ref), text("01", inVariant), text("x", ref)},
         failsAt(en::TypeMismatch, 2)},
        {"x10dim_40000", m::x10dim, K::Method, {text("A"), text("01"), int32(40000)}, failsAt(en::Overflow, 2)},
        {"x10brighten_with_two_texts",
         m::x10brighten,
         K::Method,
         {text("A"), text("01")},
         fails(en::BadParameterCount)},
        {"x10brighten_text_99999_in_a_variant",
         m::x10brighten,
         K::Method,
         {text("A"), text("01"), text("99999", inVariant)},
         failsAt(en::Overflow, 2)},
        {"alloff_without_its_house", m::alloff, K::Method, {}, fails(en::BadParameterCount)},
        {"alloff_set_by_reference", m::alloff, K::PropertyPutRef, {sendQueue()}, fails(en::MemberNotFound)},
        // Ids of no member: the private procedures' positions and the default member.
        {"position_2_called", 0x60030002, K::Method, {}, fails(en::MemberNotFound)},
        {"position_2_read", 0x60030002, K::PropertyGet, {}, fails(en::MemberNotFound)},
        {"position_3_called", 0x60030003, K::Method, {text("A")}, fails(en::MemberNotFound)},
        {"position_11_called", 0x6003000B, K::Method, {}, fails(en::MemberNotFound)},
        {"id_0_called", 0, K::Method, {}, fails(en::MemberNotFound)},
        {"id_0_read", 0, K::PropertyGet, {}, fails(en::MemberNotFound)},
    };
}

}  // namespace quenvar::testing::member_calls
