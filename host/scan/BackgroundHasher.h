#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "host/scan/HashObject.h"

namespace devicescan::scan {

// Feeds blocks to hash objects on a thread of its own, in the order they were queued, so that a
// reader hashes one block while it unpacks and parses the next (loading a container, hashing is
// a third of the work). Each block must stay untouched, and its hash object alive, until the
// ticket Add gave for it is waited for. Small blocks are hashed at once on the caller's thread,
// after those queued before them: a container of a few kilobytes never starts the thread.
//
// Threads: one caller thread queues and waits; the worker, started on the first large block,
// only hashes. The destructor waits for every queued block, then ends the worker.
class BackgroundHasher {
  public:
    using Ticket = std::uint64_t;

    // Blocks smaller than this are hashed on the caller's thread.
    static constexpr std::size_t kSmallBlock = std::size_t{256} << 10;

    BackgroundHasher() noexcept;
    BackgroundHasher(const BackgroundHasher&) = delete;
    BackgroundHasher& operator=(const BackgroundHasher&) = delete;
    ~BackgroundHasher();

    Ticket Add(HashObject& hash, const std::uint8_t* data, std::size_t size);
    // Until the block of ticket (and every block before it) is hashed.
    void Wait(Ticket ticket);
    void WaitAll() { Wait(issued); }
    // Whether a hash call failed (every block queued so far must have been waited for).
    bool Failed() const noexcept { return failed; }

  private:
    struct Job {
        HashObject* hash = nullptr;
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
    };
    static constexpr std::size_t kQueued = 8;

    static DWORD WINAPI Run(void* self);
    void Work();
    bool StartWorker();

    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE queued = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE done = CONDITION_VARIABLE_INIT;
    std::array<Job, kQueued> jobs{};
    Ticket issued = 0;    // tickets given out (the caller's)
    Ticket finished = 0;  // blocks hashed, in ticket order (under lock)
    bool stopping = false;
    bool failed = false;
    HANDLE thread = nullptr;
    bool workerFailed = false;  // could not be started: everything is hashed inline
};

}  // namespace devicescan::scan
