#pragma once
// The runtime's ordered collection: 1-based, add at the end, remove by position.
//
// Late-bound callers reach it through its interface "Collection":
//   id 0  Item(index: Int32) -> any   method, the default member
//   id 1  Add(item: any)              method
//   id 2  Count -> Int32              read-only property
//   id 3  Remove(index: Int32)        method
// Positions outside 1..Count raise subscript out of range (9) by either route.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/automation/Dispatch.h"
#include "platform/automation/Variant.h"

namespace quenvar::automation {

namespace collection_member {
inline constexpr MemberId Item = 0;
inline constexpr MemberId Add = 1;
inline constexpr MemberId Count = 2;
inline constexpr MemberId Remove = 3;
}  // namespace collection_member

class Collection : public Dispatchable {
public:
    std::int32_t count() const;
    // Position 1..count(); anything else raises subscript out of range (9).
    Variant item(std::int32_t position) const;
    void add(Variant value);
    void remove(std::int32_t position);

    static const InterfaceInfo& collectionInterface();
    const InterfaceInfo& interfaceInfo() const override;
    Variant invoke(MemberId id, InvokeKind kind, std::span<Variant> args) override;

private:
    std::vector<Variant> items_;
};

using CollectionRef = std::shared_ptr<Collection>;

}  // namespace quenvar::automation
