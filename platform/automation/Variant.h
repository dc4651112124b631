#pragma once
// A value as hosts pass it to late-bound calls: empty, 16-bit or 32-bit integer, Boolean
// (true is -1), text, or a reference to a dispatchable object (possibly the null reference).
//
// Texts are byte strings in the single-byte code page (ISO 8859-1): every character code
// 0..255 is one char, so a one-character text carries exactly one byte of the wire.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace quenvar::automation {

class Dispatchable;
using ObjectRef = std::shared_ptr<Dispatchable>;

enum class VarType { Empty, Int16, Int32, Bool, Text, Object };

class Variant {
public:
    Variant() = default;  // empty
    static Variant fromInt16(std::int16_t value);
    static Variant fromInt32(std::int32_t value);
    static Variant fromBool(bool value);
    static Variant fromText(std::string text);
    static Variant fromObject(ObjectRef object);  // nullptr makes the null reference
    static Variant nullObject() { return fromObject(nullptr); }

    VarType type() const;
    bool isEmpty() const { return type() == VarType::Empty; }

    // Conversions with the language's rules. Each raises RuntimeError: type mismatch (13) when
    // the value cannot be converted, overflow (6) when it is outside the target's range.
    std::int16_t toInt16() const;  // text via textToInt16; Bool gives -1/0; Empty gives 0
    std::int32_t toInt32() const;
    bool toBool() const;         // any nonzero number is true; "True"/"False" texts too
    std::string toText() const;  // numbers as decimal digits; Bool "True"/"False"; Empty ""
    ObjectRef toObject() const;  // Object only (null allowed); anything else: type mismatch
    // The value as `type` by the conversions above; Empty as the target keeps the value as it is.
    Variant convertedTo(VarType type) const;

    friend bool operator==(const Variant&, const Variant&) = default;

private:
    struct EmptyTag {
        friend bool operator==(EmptyTag, EmptyTag) = default;
    };
    struct BoolValue {
        bool value;
        friend bool operator==(BoolValue, BoolValue) = default;
    };
    using Storage = std::variant<EmptyTag, std::int16_t, std::int32_t, BoolValue, std::string, ObjectRef>;
    explicit Variant(Storage storage) : storage_(std::move(storage)) {}
    Storage storage_{EmptyTag{}};
};

}  // namespace quenvar::automation
