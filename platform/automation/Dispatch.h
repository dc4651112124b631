#pragma once
// Late-bound calls by member id, and the description of an interface that drives them.
//
// A host calls an object through Dispatchable::invoke with a member id, an invoke kind and
// its arguments as variants. Objects normally implement invoke with a DispatchTable: one list
// of MemberBinding rows that gives both the interface description (names, ids, types, type
// information entries) and the code each id runs, so the two can never disagree.
//
// Writing a table (the object type is `Lamp`):
//
//   static const DispatchTable<Lamp> table(
//       Guid::parse("{...}"), "_Lamp", InterfaceFlags{.dual = true},
//       {MemberBinding<Lamp>::property(0x40030000, "level", VarType::Int16,
//            [](Lamp& l) { return Variant::fromInt16(l.level); },
//            [](Lamp& l, const Variant& v) { l.level = v.toInt16(); }),   // v already Int16
//        MemberBinding<Lamp>::method(0x60030000, "switchOn", {{"house", VarType::Text}},
//            [](Lamp& l, std::span<Variant> args) { l.switchOn(args[0].toText()); })});
//   Variant Lamp::invoke(MemberId id, InvokeKind kind, std::span<Variant> args) {
//       return table.invoke(*this, id, kind, args);
//   }
//
// What every call through a table guarantees:
// - Unknown id, or a kind the member lacks (a put on a method, a putref on a plain property,
//   a put on a read-only property...): RuntimeError MemberNotFound (0x80020003); nothing runs.
// - Argument count other than the member's parameter count (a put takes exactly the one
//   value): BadParameterCount (0x8002000E); nothing runs.
// - Every argument is converted to its declared type before the member runs (a number for a
//   Text parameter becomes its decimal text; "x" for an Int16 parameter fails). A failed
//   conversion raises the conversion's own error, type mismatch (13) or overflow (6), whose
//   description names the parameter, the member and the reason, and whose argument() is the
//   parameter's position; nothing runs.
// - A Property put hands the code the value converted to the property's type (a Bool property
//   receives true for any nonzero number). An ObjectProperty putref accepts an object or the
//   null reference; anything else is type mismatch (13). The value's position is 0.
// - A RuntimeError raised by the member passes through with its own number and description
//   (and no argument(): that names arguments of this call only). Any other std::exception becomes a RuntimeError with
//   number 0x80004005 whose description names the member and the exception's text.
// - The caller's arguments are never written back: the code works on converted copies.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation/Guid.h"
#include "platform/automation/RuntimeError.h"
#include "platform/automation/Variant.h"

namespace quenvar::automation {

using MemberId = std::int32_t;

enum class InvokeKind { Method, PropertyGet, PropertyPut, PropertyPutRef };

enum class MemberKind {
    Method,            // invoked with InvokeKind::Method
    Property,          // PropertyGet and PropertyPut
    ObjectProperty,    // PropertyGet and PropertyPutRef (an object or the null reference)
    ReadOnlyProperty,  // PropertyGet only
};

// A parameter's declared type. VarType::Empty declares a parameter that takes any value as
// it is, with no conversion.
struct ParamInfo {
    std::string name;
    VarType type;
    friend bool operator==(const ParamInfo&, const ParamInfo&) = default;
};

struct MemberInfo {
    MemberId id;
    std::string name;
    MemberKind kind;
    std::vector<ParamInfo> params;  // a method's parameters; empty for properties
    VarType valueType;              // a property's type, a method's result; Empty: no result
};

// One entry of the type information: one per method and one per accessor of a property.
struct FunctionEntry {
    MemberId id;
    std::string name;
    InvokeKind kind;
    std::vector<ParamInfo> params;
    VarType resultType;
    friend bool operator==(const FunctionEntry&, const FunctionEntry&) = default;
};

struct InterfaceFlags {
    bool dual = false;
    bool dispatchOnly = false;
    bool hidden = false;
    bool nonExtensible = false;
    bool automationCompatible = false;
    friend bool operator==(const InterfaceFlags&, const InterfaceFlags&) = default;
};

struct InterfaceInfo {
    Guid iid;
    std::string name;
    InterfaceFlags flags;
    std::vector<MemberInfo> members;

    // The type information entries in member order: a Property gives its get then its put
    // entry (one parameter "value" of the property's type), an ObjectProperty its get then its
    // putref entry, a ReadOnlyProperty its get entry, a Method one entry.
    std::vector<FunctionEntry> entries() const;
    // The member with this id, or nullptr.
    const MemberInfo* find(MemberId id) const;
    // The id of the member with this name, compared without regard to case.
    std::optional<MemberId> idOfName(std::string_view name) const;
};

namespace error_number {
inline constexpr std::int32_t UnexpectedFailure = static_cast<std::int32_t>(0x80004005u);
}

class Dispatchable {
public:
    virtual ~Dispatchable();

    virtual const InterfaceInfo& interfaceInfo() const = 0;
    // Calls the member `id` as `kind` with `args` (see the guarantees at the top of this file).
    // Returns the property's value for a get, the method's result (Empty when it has none).
    virtual Variant invoke(MemberId id, InvokeKind kind, std::span<Variant> args) = 0;

    std::optional<MemberId> idOfName(std::string_view name) const { return interfaceInfo().idOfName(name); }

    // Convenience for hosts and tests: invoke with a list of arguments.
    Variant call(MemberId id, std::vector<Variant> args = {}) { return invoke(id, InvokeKind::Method, args); }
    Variant get(MemberId id) { return invoke(id, InvokeKind::PropertyGet, {}); }
    void put(MemberId id, Variant value) { invoke(id, InvokeKind::PropertyPut, std::span<Variant>(&value, 1)); }
    void putRef(MemberId id, Variant object) { invoke(id, InvokeKind::PropertyPutRef, std::span<Variant>(&object, 1)); }
};

// The object behind a reference as the class `Target`: nullptr for the null reference; an
// object of another class raises type mismatch (13).
template <class Target>
std::shared_ptr<Target> objectAs(const ObjectRef& object) {
    if (!object) return nullptr;
    auto target = std::dynamic_pointer_cast<Target>(object);
    if (!target) throw RuntimeError::typeMismatch();
    return target;
}

// For a host layer that could not take the value at `position` of a call into a Variant at all
// (`cause` says why): the error the call fails with. The member, the kind of call and the
// argument count are judged first, by the same rules as every call through a table, so a call
// that is wrong in those ways raises that error instead, whatever it passed.
RuntimeError argumentNotTaken(const InterfaceInfo& info, MemberId id, InvokeKind kind, std::size_t argumentCount,
                              std::size_t position, const RuntimeError& cause);

namespace dispatch_detail {
// Finds the member `id` and checks that it answers `kind` with `argumentCount` arguments;
// raises MemberNotFound or BadParameterCount otherwise.
const MemberInfo& requireMember(const InterfaceInfo& info, MemberId id, InvokeKind kind, std::size_t argumentCount);
// The arguments converted to the declared parameter types; raises the conversion's error.
std::vector<Variant> convertArguments(const MemberInfo& member, std::span<const Variant> args);
// The value of a put or putref converted to the property's type; raises the conversion's error.
Variant convertPropertyValue(const MemberInfo& member, InvokeKind kind, const Variant& value);
// Runs `body`, turning any exception other than RuntimeError into one naming the member.
Variant runMember(const MemberInfo& member, const std::function<Variant()>& body);
// Checks a table for duplicate ids and rows without the code their kind needs; throws
// std::logic_error naming the row.
struct BindingCode {
    bool get;
    bool put;
    bool call;
};
void checkBindings(const InterfaceInfo& info, const std::vector<BindingCode>& code);
}  // namespace dispatch_detail

// One member of a DispatchTable: its description and the code each of its accessors runs.
// Build rows with the named constructors, which fill `info` and the right function.
template <class Object>
struct MemberBinding {
    using Getter = std::function<Variant(Object&)>;
    using Putter = std::function<void(Object&, const Variant& convertedValue)>;
    using Caller = std::function<Variant(Object&, std::span<Variant> convertedArgs)>;

    MemberInfo info;
    Getter get;
    Putter put;
    Caller call;

    // A read/write property. `put` receives the value already converted to `type`.
    static MemberBinding property(MemberId id, std::string name, VarType type, Getter get, Putter put) {
        return {{id, std::move(name), MemberKind::Property, {}, type}, std::move(get), std::move(put), {}};
    }
    // A property that holds an object reference: get, and putref with an object or null.
    static MemberBinding objectProperty(MemberId id, std::string name, Getter get, Putter putRef) {
        return {{id, std::move(name), MemberKind::ObjectProperty, {}, VarType::Object},
                std::move(get),
                std::move(putRef),
                {}};
    }
    static MemberBinding readOnlyProperty(MemberId id, std::string name, VarType type, Getter get) {
        return {{id, std::move(name), MemberKind::ReadOnlyProperty, {}, type}, std::move(get), {}, {}};
    }
    // A method without a result. Each argument arrives converted to its parameter's type.
    static MemberBinding method(MemberId id, std::string name, std::vector<ParamInfo> params,
                                std::function<void(Object&, std::span<Variant>)> body) {
        return {{id, std::move(name), MemberKind::Method, std::move(params), VarType::Empty},
                {},
                {},
                [body = std::move(body)](Object& target, std::span<Variant> args) {
                    body(target, args);
                    return Variant();
                }};
    }
    // A method that returns a value of `resultType` (Empty: any value).
    static MemberBinding function(MemberId id, std::string name, std::vector<ParamInfo> params, VarType resultType,
                                  Caller body) {
        return {{id, std::move(name), MemberKind::Method, std::move(params), resultType}, {}, {}, std::move(body)};
    }
};

// The members of one interface of `Object`, serving both its description and its calls.
// Construction throws std::logic_error for duplicate ids or a row missing the code its kind
// needs, so a table that builds is a table that dispatches every member it describes.
template <class Object>
class DispatchTable {
public:
    DispatchTable(Guid iid, std::string name, InterfaceFlags flags, std::vector<MemberBinding<Object>> bindings)
        : bindings_(std::move(bindings)) {
        info_.iid = iid;
        info_.name = std::move(name);
        info_.flags = flags;
        std::vector<dispatch_detail::BindingCode> present;
        for (const auto& binding : bindings_) {
            info_.members.push_back(binding.info);
            present.push_back(
                {static_cast<bool>(binding.get), static_cast<bool>(binding.put), static_cast<bool>(binding.call)});
        }
        dispatch_detail::checkBindings(info_, present);
    }

    const InterfaceInfo& info() const { return info_; }

    Variant invoke(Object& target, MemberId id, InvokeKind kind, std::span<Variant> args) const {
        const MemberInfo& member = dispatch_detail::requireMember(info_, id, kind, args.size());
        const MemberBinding<Object>& binding = bindings_[static_cast<std::size_t>(&member - info_.members.data())];
        switch (kind) {
            case InvokeKind::PropertyGet:
                return dispatch_detail::runMember(member, [&] { return binding.get(target); });
            case InvokeKind::PropertyPut:
            case InvokeKind::PropertyPutRef: {
                const Variant value = dispatch_detail::convertPropertyValue(member, kind, args[0]);
                return dispatch_detail::runMember(member, [&] {
                    binding.put(target, value);
                    return Variant();
                });
            }
            case InvokeKind::Method: {
                std::vector<Variant> converted = dispatch_detail::convertArguments(member, args);
                return dispatch_detail::runMember(member, [&] { return binding.call(target, converted); });
            }
        }
        throw RuntimeError(error_number::MemberNotFound, "Member not found");
    }

private:
    InterfaceInfo info_;
    std::vector<MemberBinding<Object>> bindings_;
};

}  // namespace quenvar::automation
