#pragma once

#include <windows.h>

#include <atomic>
#include <new>

#include "sdk/StringData.h"

namespace qv {

// Recycles the bookkeeping blocks of heap strings. Every heap string owns one beside its buffer,
// so without recycling each copy of a string costs two trips to the heap, and under the C
// runtime's heap one trip costs more than all the rest of the copy. A block given back is kept
// on the system's lock-free list (safe against reuse races), up to kKept blocks, and handed out
// again before a new one is allocated; beyond that, and once the pool has closed at the end of
// the process, blocks are deleted. Blocks are always allocated with the global operator new.
//
// Threads: any; strings on different threads take and give back blocks at the same time.
class StringDataPool {
  public:
    static constexpr USHORT kKept = 256;

    constexpr StringDataPool() noexcept = default;
    ~StringDataPool() {
        closed = true;
        while (SLIST_ENTRY* entry = InterlockedPopEntrySList(&list)) {
            ::operator delete(entry);
        }
    }
    StringDataPool(const StringDataPool&) = delete;
    StringDataPool& operator=(const StringDataPool&) = delete;

    // A block holding initial: a recycled one, else a new one; null when memory is exhausted.
    static StringData* Take(const StringData& initial) noexcept {
        if (SLIST_ENTRY* entry = InterlockedPopEntrySList(&instance.list)) {
            entry->~SLIST_ENTRY();
            return new (entry) StringData(initial);
        }
        return new (std::nothrow) StringData(initial);
    }

    // Gives a block from Take back.
    static void Give(StringData* data) noexcept {
        if (instance.closed || QueryDepthSList(&instance.list) >= kKept) {
            delete data;
            return;
        }
        data->~StringData();
        InterlockedPushEntrySList(&instance.list, new (data) SLIST_ENTRY{});
    }

  private:
    static_assert(sizeof(SLIST_ENTRY) <= sizeof(StringData));
    static_assert(alignof(SLIST_ENTRY) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

    static constinit StringDataPool instance;

    SLIST_HEADER list{};
    std::atomic<bool> closed{false};
};

inline constinit StringDataPool StringDataPool::instance{};

}  // namespace qv
