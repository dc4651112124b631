#include "platform/automation/Dispatch.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>

namespace quenvar::automation {
namespace {

std::string hexId(MemberId id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool answers(MemberKind member, InvokeKind kind) {
    switch (member) {
        case MemberKind::Method: return kind == InvokeKind::Method;
        case MemberKind::Property: return kind == InvokeKind::PropertyGet || kind == InvokeKind::PropertyPut;
        case MemberKind::ObjectProperty: return kind == InvokeKind::PropertyGet || kind == InvokeKind::PropertyPutRef;
        case MemberKind::ReadOnlyProperty: return kind == InvokeKind::PropertyGet;
    }
    return false;
}

const char* kindName(InvokeKind kind) {
    switch (kind) {
        case InvokeKind::Method: return "called as a method";
        case InvokeKind::PropertyGet: return "read";
        case InvokeKind::PropertyPut: return "assigned a value";
        case InvokeKind::PropertyPutRef: return "assigned an object reference";
    }
    return "used";
}

const char* typeName(VarType type) {
    switch (type) {
        case VarType::Empty: return "any value";
        case VarType::Int16: return "a 16-bit integer";
        case VarType::Int32: return "a 32-bit integer";
        case VarType::Bool: return "a Boolean";
        case VarType::Text: return "a text";
        case VarType::Object: return "an object";
    }
    return "a value";
}

std::string describeValue(const Variant& value) {
    switch (value.type()) {
        case VarType::Empty: return "an empty value";
        case VarType::Int16:
        case VarType::Int32: return "the number " + value.toText();
        case VarType::Bool: return "the Boolean " + value.toText();
        case VarType::Text: return "the text \"" + value.toText() + "\"";
        case VarType::Object: return value.toObject() ? "an object" : "the null reference";
    }
    return "a value";
}

// Where the argument at `position` of a call of `member` as `kind` comes from, for descriptions.
std::string placeOf(const MemberInfo& member, InvokeKind kind, std::size_t position) {
    if (kind != InvokeKind::Method) return "the value for " + member.name;
    return "argument '" + member.params[position].name + "' of " + member.name;
}

// The conversion's own error (type mismatch or overflow), told where and why, and marked with
// the argument's position so that a host can point at it.
Variant convertOrExplain(const Variant& value, VarType type, const MemberInfo& member, InvokeKind kind,
                         std::size_t position) {
    try {
        return value.convertedTo(type);
    } catch (const RuntimeError& error) {
        const std::string reason = error.number() == error_number::Overflow
                                       ? describeValue(value) + " is outside the range of " + typeName(type)
                                       : describeValue(value) + " cannot be converted to " + typeName(type);
        throw RuntimeError(error.number(),
                           error.description() + " in " + placeOf(member, kind, position) + ": " + reason, position);
    }
}

}  // namespace

Dispatchable::~Dispatchable() = default;

std::vector<FunctionEntry> InterfaceInfo::entries() const {
    std::vector<FunctionEntry> result;
    for (const MemberInfo& member : members) {
        switch (member.kind) {
            case MemberKind::Method:
                result.push_back({member.id, member.name, InvokeKind::Method, member.params, member.valueType});
                break;
            case MemberKind::Property:
            case MemberKind::ObjectProperty:
            case MemberKind::ReadOnlyProperty:
                result.push_back({member.id, member.name, InvokeKind::PropertyGet, {}, member.valueType});
                if (member.kind == MemberKind::ReadOnlyProperty) break;
                result.push_back(
                    {member.id,
                     member.name,
                     member.kind == MemberKind::Property ? InvokeKind::PropertyPut : InvokeKind::PropertyPutRef,
                     {{"value", member.valueType}},
                     VarType::Empty});
                break;
        }
    }
    return result;
}

const MemberInfo* InterfaceInfo::find(MemberId id) const {
    auto found = std::find_if(members.begin(), members.end(), [id](const MemberInfo& m) { return m.id == id; });
    return found == members.end() ? nullptr : &*found;
}

std::optional<MemberId> InterfaceInfo::idOfName(std::string_view memberName) const {
    for (const MemberInfo& member : members) {
        if (equalsIgnoringCase(member.name, memberName)) return member.id;
    }
    return std::nullopt;
}

namespace dispatch_detail {

const MemberInfo& requireMember(const InterfaceInfo& info, MemberId id, InvokeKind kind, std::size_t argumentCount) {
    const MemberInfo* member = info.find(id);
    if (member == nullptr) {
        throw RuntimeError(error_number::MemberNotFound,
                           "Member not found: " + info.name + " has no member with id " + hexId(id));
    }
    if (!answers(member->kind, kind)) {
        throw RuntimeError(error_number::MemberNotFound,
                           "Member not found: " + info.name + "." + member->name + " cannot be " + kindName(kind));
    }
    const std::size_t expected = kind == InvokeKind::Method        ? member->params.size()
                                 : kind == InvokeKind::PropertyGet ? 0
                                                                   : 1;
    if (argumentCount != expected) {
        throw RuntimeError(error_number::BadParameterCount, "Wrong number of arguments: " + info.name + "." +
                                                                member->name + " takes " + std::to_string(expected) +
                                                                " and was given " + std::to_string(argumentCount));
    }
    return *member;
}

std::vector<Variant> convertArguments(const MemberInfo& member, std::span<const Variant> args) {
    std::vector<Variant> converted;
    converted.reserve(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        converted.push_back(convertOrExplain(args[i], member.params[i].type, member, InvokeKind::Method, i));
    }
    return converted;
}

Variant convertPropertyValue(const MemberInfo& member, InvokeKind kind, const Variant& value) {
    if (kind == InvokeKind::PropertyPutRef && value.type() != VarType::Object) {
        const RuntimeError mismatch = RuntimeError::typeMismatch();
        throw RuntimeError(mismatch.number(),
                           mismatch.description() + " in " + placeOf(member, kind, 0) + ": " + describeValue(value) +
                               " is no object reference",
                           0);
    }
    return convertOrExplain(value, member.valueType, member, kind, 0);
}

Variant runMember(const MemberInfo& member, const std::function<Variant()>& body) {
    try {
        return body();
    } catch (const RuntimeError& error) {
        // A position names an argument of this call only, never one of a call the member made.
        if (error.argument()) throw RuntimeError(error.number(), error.description());
        throw;
    } catch (const std::exception& failure) {
        throw RuntimeError(error_number::UnexpectedFailure, member.name + " failed: " + failure.what());
    }
}

void checkBindings(const InterfaceInfo& info, const std::vector<BindingCode>& code) {
    std::set<MemberId> seen;
    for (std::size_t i = 0; i < info.members.size(); ++i) {
        const MemberInfo& member = info.members[i];
        const std::string where = info.name + "." + member.name + " (" + hexId(member.id) + ")";
        if (!seen.insert(member.id).second) throw std::logic_error(where + ": the id is used twice");
        bool complete = false;
        switch (member.kind) {
            case MemberKind::Method: complete = code[i].call; break;
            case MemberKind::Property:
            case MemberKind::ObjectProperty: complete = code[i].get && code[i].put; break;
            case MemberKind::ReadOnlyProperty: complete = code[i].get; break;
        }
        if (!complete) throw std::logic_error(where + ": the row lacks the code its kind needs");
        if (member.kind != MemberKind::Method && !member.params.empty()) {
            throw std::logic_error(where + ": properties take no parameters");
        }
    }
}

}  // namespace dispatch_detail

RuntimeError argumentNotTaken(const InterfaceInfo& info, MemberId id, InvokeKind kind, std::size_t argumentCount,
                              std::size_t position, const RuntimeError& cause) {
    const MemberInfo& member = dispatch_detail::requireMember(info, id, kind, argumentCount);
    return RuntimeError(cause.number(),
                        cause.description() + " in " + placeOf(member, kind, position) +
                            ": the value passed is of a kind that no member takes",
                        position);
}

}  // namespace quenvar::automation
