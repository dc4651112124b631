#pragma once
// The runtime's ordered collection: 1-based, add at the end, remove by position.

#include <cstdint>
#include <vector>

#include "Variant.h"

namespace quenvar::automation {

class Collection /* : public Dispatchable (count, item, add, remove by member id) */ {
public:
    std::int32_t count() const;
    // Position 1..count(); anything else raises subscript out of range (9).
    Variant item(std::int32_t position) const;
    void add(Variant value);
    void remove(std::int32_t position);

private:
    std::vector<Variant> items_;
};

using CollectionRef = std::shared_ptr<Collection>;

}  // namespace quenvar::automation
