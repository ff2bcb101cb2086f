#pragma once

#include <windows.h>

#include <cstdint>

namespace devicescan::logdll {

// Each thread's trace level, kept in a thread-local slot of its own: no lock and no memory per
// thread, and nothing to clean up when a thread ends. The slot is freed with the library, which
// clears it in every thread, so a later load starts all threads at level 0.
//
// Threads: Advance touches only the calling thread's value.
class ThreadDepth {
  public:
    ThreadDepth() noexcept : slot(TlsAlloc()) {}
    ~ThreadDepth() {
        if (slot != TLS_OUT_OF_INDEXES) {
            TlsFree(slot);
        }
    }
    ThreadDepth(const ThreadDepth&) = delete;
    ThreadDepth& operator=(const ThreadDepth&) = delete;

    // Moves the calling thread's level by the record's depth (a 16-bit signed step: 1 enters,
    // 0xFFFF leaves, 0 stays) and returns the level the record is written at: an entry at the
    // level before it, an exit at the level after it, so both line up. Never below 0.
    std::uint32_t Advance(std::uint32_t depth) noexcept;

  private:
    DWORD slot;
};

}  // namespace devicescan::logdll
