#include "platform/automation/Collection.h"

#include "platform/automation/RuntimeError.h"

namespace quenvar::automation {
namespace {

std::size_t indexOfPosition(std::int32_t position, std::size_t count) {
    if (position < 1 || static_cast<std::size_t>(position) > count) throw RuntimeError::subscriptOutOfRange();
    return static_cast<std::size_t>(position) - 1;
}

}  // namespace

std::int32_t Collection::count() const { return static_cast<std::int32_t>(items_.size()); }

Variant Collection::item(std::int32_t position) const { return items_[indexOfPosition(position, items_.size())]; }

void Collection::add(Variant value) { items_.push_back(std::move(value)); }

void Collection::remove(std::int32_t position) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(indexOfPosition(position, items_.size())));
}

}  // namespace quenvar::automation
