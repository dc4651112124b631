#include "platform/automation/Collection.h"

#include "platform/automation/RuntimeError.h"

namespace quenvar::automation {
namespace {

std::size_t indexOfPosition(std::int32_t position, std::size_t count) {
    if (position < 1 || static_cast<std::size_t>(position) > count) throw RuntimeError::subscriptOutOfRange();
    return static_cast<std::size_t>(position) - 1;
}

const DispatchTable<Collection>& collectionTable() {
    using Binding = MemberBinding<Collection>;
    static const DispatchTable<Collection> table(
        Guid::parse("{5E0C7A2B-3D41-4F6A-9B8E-21C4D7F0A613}"), "Collection",
        InterfaceFlags{.dual = true, .automationCompatible = true},
        {
            Binding::function(collection_member::Item, "Item", {{"index", VarType::Int32}}, VarType::Empty,
                              [](Collection& c, std::span<Variant> args) { return c.item(args[0].toInt32()); }),
            Binding::method(collection_member::Add, "Add", {{"item", VarType::Empty}},
                            [](Collection& c, std::span<Variant> args) { c.add(args[0]); }),
            Binding::readOnlyProperty(collection_member::Count, "Count", VarType::Int32,
                                      [](Collection& c) { return Variant::fromInt32(c.count()); }),
            Binding::method(collection_member::Remove, "Remove", {{"index", VarType::Int32}},
                            [](Collection& c, std::span<Variant> args) { c.remove(args[0].toInt32()); }),
        });
    return table;
}

}  // namespace

std::int32_t Collection::count() const { return static_cast<std::int32_t>(items_.size()); }

Variant Collection::item(std::int32_t position) const { return items_[indexOfPosition(position, items_.size())]; }

void Collection::add(Variant value) { items_.push_back(std::move(value)); }

void Collection::remove(std::int32_t position) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(indexOfPosition(position, items_.size())));
}

const InterfaceInfo& Collection::collectionInterface() { return collectionTable().info(); }

const InterfaceInfo& Collection::interfaceInfo() const { return collectionInterface(); }

Variant Collection::invoke(MemberId id, InvokeKind kind, std::span<Variant> args) {
    return collectionTable().invoke(*this, id, kind, args);
}

}  // namespace quenvar::automation
