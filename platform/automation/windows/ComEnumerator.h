#pragma once
// COM's enumerators (IEnumConnectionPoints, IEnumConnections) over a snapshot taken when the
// enumerator was made: advising or unadvising afterwards changes nothing it lists. The
// snapshot holds a reference to every item it lists, and Next hands the caller a reference of
// its own to each item it returns. Clones share the snapshot and start at the clone's position.

#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <new>
#include <vector>

#include "platform/automation/windows/ComObject.h"
#include "platform/automation/windows/ModuleCounts.h"

namespace quenvar::automation::windows {

namespace enumerated_item {
inline void addReference(IUnknown* item) { item->AddRef(); }
inline void addReference(const CONNECTDATA& item) { item.pUnk->AddRef(); }
inline void release(IUnknown* item) { item->Release(); }
inline void release(const CONNECTDATA& item) { item.pUnk->Release(); }
}  // namespace enumerated_item

template <class Enumeration, class Item>
class ComEnumerator final : public ComObject<Enumeration> {
public:
    // A new enumerator with one reference, which the caller owns; nullptr without memory.
    static Enumeration* create(std::vector<Item> items) {
        try {
            return new ComEnumerator(std::make_shared<const Snapshot>(std::move(items)), 0);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

    // Up to `count` items; S_FALSE when fewer were left. `fetched` may be left out only when
    // asking for one item, as COM's rule for enumerators has it.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
        if (fetched != nullptr) *fetched = 0;
        if (items == nullptr) return E_POINTER;
        if (fetched == nullptr && count != 1) return E_INVALIDARG;
        ULONG given = 0;
        for (; given < count && position_ < snapshot_->items.size(); ++given, ++position_) {
            items[given] = snapshot_->items[position_];
            enumerated_item::addReference(items[given]);
        }
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const std::size_t left = snapshot_->items.size() - position_;
        if (count > left) {
            position_ = snapshot_->items.size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enumeration** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = new (std::nothrow) ComEnumerator(snapshot_, position_);
        return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    struct Snapshot {
        explicit Snapshot(std::vector<Item> taken) : items(std::move(taken)) {
            for (const Item& item : items) enumerated_item::addReference(item);
        }
        ~Snapshot() {
            for (const Item& item : items) enumerated_item::release(item);
        }
        Snapshot(const Snapshot&) = delete;
        Snapshot& operator=(const Snapshot&) = delete;
        std::vector<Item> items;
    };

    ComEnumerator(std::shared_ptr<const Snapshot> snapshot, std::size_t position)
        : snapshot_(std::move(snapshot)), position_(position) {}

    CountedObject counted_;
    std::shared_ptr<const Snapshot> snapshot_;
    std::size_t position_;
};

using ConnectionPointEnumerator = ComEnumerator<IEnumConnectionPoints, IConnectionPoint*>;
using ConnectionEnumerator = ComEnumerator<IEnumConnections, CONNECTDATA>;

}  // namespace quenvar::automation::windows
