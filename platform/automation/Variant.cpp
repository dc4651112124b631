#include "platform/automation/Variant.h"

#include <algorithm>

#include "platform/automation/CheckedArithmetic.h"
#include "platform/automation/Conversions.h"
#include "platform/automation/RuntimeError.h"

namespace quenvar::automation {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

bool equalsIgnoringCase(std::string_view text, std::string_view word) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [&](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace

Variant Variant::fromInt16(std::int16_t value) { return Variant(Storage{value}); }
Variant Variant::fromInt32(std::int32_t value) { return Variant(Storage{value}); }
Variant Variant::fromBool(bool value) { return Variant(Storage{BoolValue{value}}); }
Variant Variant::fromText(std::string text) { return Variant(Storage{std::move(text)}); }
Variant Variant::fromObject(ObjectRef object) { return Variant(Storage{std::move(object)}); }

VarType Variant::type() const {
    return std::visit(Overloaded{
                          [](EmptyTag) { return VarType::Empty; },
                          [](std::int16_t) { return VarType::Int16; },
                          [](std::int32_t) { return VarType::Int32; },
                          [](BoolValue) { return VarType::Bool; },
                          [](const std::string&) { return VarType::Text; },
                          [](const ObjectRef&) { return VarType::Object; },
                      },
                      storage_);
}

std::int16_t Variant::toInt16() const {
    return std::visit(Overloaded{
                          [](EmptyTag) -> std::int16_t { return 0; },
                          [](std::int16_t value) { return value; },
                          [](std::int32_t value) { return toInt16Checked(value); },
                          [](BoolValue value) -> std::int16_t { return value.value ? -1 : 0; },
                          [](const std::string& text) { return textToInt16(text); },
                          [](const ObjectRef&) -> std::int16_t { throw RuntimeError::typeMismatch(); },
                      },
                      storage_);
}

std::int32_t Variant::toInt32() const {
    return std::visit(Overloaded{
                          [](EmptyTag) -> std::int32_t { return 0; },
                          [](std::int16_t value) -> std::int32_t { return value; },
                          [](std::int32_t value) { return value; },
                          [](BoolValue value) -> std::int32_t { return value.value ? -1 : 0; },
                          [](const std::string& text) { return textToInt32(text); },
                          [](const ObjectRef&) -> std::int32_t { throw RuntimeError::typeMismatch(); },
                      },
                      storage_);
}

bool Variant::toBool() const {
    return std::visit(Overloaded{
                          [](EmptyTag) { return false; },
                          [](std::int16_t value) { return value != 0; },
                          [](std::int32_t value) { return value != 0; },
                          [](BoolValue value) { return value.value; },
                          [](const std::string& text) {
                              if (equalsIgnoringCase(text, "True")) return true;
                              if (equalsIgnoringCase(text, "False")) return false;
                              return textIsNonzeroNumber(text);
                          },
                          [](const ObjectRef&) -> bool { throw RuntimeError::typeMismatch(); },
                      },
                      storage_);
}

std::string Variant::toText() const {
    return std::visit(Overloaded{
                          [](EmptyTag) { return std::string(); },
                          [](std::int16_t value) { return std::to_string(value); },
                          [](std::int32_t value) { return std::to_string(value); },
                          [](BoolValue value) { return std::string(value.value ? "True" : "False"); },
                          [](const std::string& text) { return text; },
                          [](const ObjectRef&) -> std::string { throw RuntimeError::typeMismatch(); },
                      },
                      storage_);
}

ObjectRef Variant::toObject() const {
    if (const auto* object = std::get_if<ObjectRef>(&storage_)) return *object;
    throw RuntimeError::typeMismatch();
}

Variant Variant::convertedTo(VarType target) const {
    switch (target) {
        case VarType::Empty: return *this;
        case VarType::Int16: return fromInt16(toInt16());
        case VarType::Int32: return fromInt32(toInt32());
        case VarType::Bool: return fromBool(toBool());
        case VarType::Text: return fromText(toText());
        case VarType::Object: return fromObject(toObject());
    }
    return *this;
}

}  // namespace quenvar::automation
