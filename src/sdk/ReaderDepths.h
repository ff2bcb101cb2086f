#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <new>

#include "sdk/FatalError.h"

namespace qv {

// How many shared holds each reading thread has, keyed by thread id.
//
// A lock rarely has more than a few readers at once, so the first kInlineEntries readers live in
// an inline array searched linearly: taking and giving back a shared hold, first or recursive,
// touches no heap and stays within one or two cache lines. Readers beyond that spill into an
// ordered map, which is only searched while it has entries.
//
// Threads: none of its own; the lock that owns it guards every call.
class ReaderDepths {
  public:
    static constexpr std::size_t kInlineEntries = 8;

    ReaderDepths() = default;
    ReaderDepths(const ReaderDepths&) = delete;
    ReaderDepths& operator=(const ReaderDepths&) = delete;

    // The thread's count, or null when it holds nothing.
    std::uint32_t* Find(std::uint32_t threadId) noexcept {
        for (std::size_t i = 0; i < inlineCount; ++i) {
            if (entries[i].threadId == threadId) {
                return &entries[i].depth;
            }
        }
        if (spill.empty()) {
            return nullptr;
        }
        const auto found = spill.find(threadId);
        return found == spill.end() ? nullptr : &found->second;
    }

    // Adds an entry for a thread that has none. Memory for a spilled entry that cannot be had is
    // the library's fatal error: the lock's bookkeeping cannot be left half done.
    void Insert(std::uint32_t threadId, std::uint32_t depth) noexcept {
        if (inlineCount < kInlineEntries) {
            entries[inlineCount++] = {threadId, depth};
            return;
        }
        try {
            spill.emplace(threadId, depth);
        } catch (const std::bad_alloc&) {
            RaiseFatalError("lock bookkeeping allocation failed");
        }
    }

    void Erase(std::uint32_t threadId) noexcept {
        for (std::size_t i = 0; i < inlineCount; ++i) {
            if (entries[i].threadId == threadId) {
                entries[i] = entries[--inlineCount];
                return;
            }
        }
        spill.erase(threadId);
    }

    std::size_t Size() const noexcept { return inlineCount + spill.size(); }

  private:
    struct Entry {
        std::uint32_t threadId;
        std::uint32_t depth;
    };

    std::array<Entry, kInlineEntries> entries{};
    std::size_t inlineCount = 0;
    std::map<std::uint32_t, std::uint32_t> spill;
};

}  // namespace qv
