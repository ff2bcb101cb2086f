#pragma once

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "sdk/CSyncRWLock.h"
#include "sdk/EventLockAdaptor.h"

namespace qv {

// An ordered list of distinct elements that is itself a reader/writer lock. It does not own what
// pointer elements point to. (The spelling of the name is the published one.)
//
// Threads: Add and Remove take the lock exclusive for the search and the change. A reader (an
// Event's fan-out) holds it shared while it walks the items, so the list cannot change under it.
// A thread that holds it shared must not call Add or Remove: that asks for the exclusive hold
// while holding it shared, the lock's fatal error.
template <typename T>
class SynchronyzedObjectContainer : public __Event_LockAdaptor<CSyncRWLock> {
  public:
    SynchronyzedObjectContainer() = default;

    // Appends the element; false when it is already there or the list cannot grow.
    bool Add(T element) noexcept {
        std::lock_guard hold(*this);
        if (std::find(items.begin(), items.end(), element) != items.end()) {
            return false;
        }
        try {
            items.push_back(element);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Removes the element, keeping the order of the rest; false when it is not there.
    bool Remove(T element) noexcept {
        std::lock_guard hold(*this);
        const auto found = std::find(items.begin(), items.end(), element);
        if (found == items.end()) {
            return false;
        }
        items.erase(found);
        return true;
    }

    // The elements in insertion order; read only under a hold of this container.
    const std::vector<T>& Items() const noexcept { return items; }

  private:
    std::vector<T> items;
};

}  // namespace qv
