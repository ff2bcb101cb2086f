#pragma once

#include <windows.h>

#include <cstdint>

#include "sdk/FatalError.h"
#include "sdk/ISyncRWLock.h"
#include "sdk/ReaderDepths.h"

namespace qv {

// The library's reader/writer lock: a critical section for the bookkeeping and two counting
// semaphores for the threads that wait.
//
// Any number of threads may hold it shared, one thread exclusive. Both modes are recursive for
// the same thread, and the exclusive owner may also take it shared. It prefers writers: while a
// writer waits, only threads that already read get a further shared hold (readers can starve
// under a steady stream of writers). The thread that gives the lock up hands it over: it counts
// the woken threads as holders under guard before releasing the semaphore, so a thread arriving in
// between sees the lock taken and queues behind them. A finishing writer prefers the next writer
// over all waiting readers; the last finishing reader hands over only to a writer.
//
// Threads: any thread may call any operation; thread id 0 means the caller. guard is held only
// for bookkeeping, never while waiting or releasing a semaphore. Releasing a hold the thread does
// not have, or asking for the exclusive hold while holding the lock shared, is the library's fatal
// error. The lock must be free, with nobody waiting, when it is destroyed.
class CSyncRWLock : public ISyncRWLock {
  public:
    // The bookkeeping at one moment, read under guard (for diagnostics and tests).
    struct Counters {
        std::uint32_t waitingReaders;
        std::uint32_t waitingWriters;
        std::uint32_t activeReaders;
        std::uint32_t activeWriters;
        std::uint32_t writerThreadId;
        std::uint32_t writerSharedDepth;
        std::uint32_t writerDepth;
        std::uint32_t readerEntries;
    };

    CSyncRWLock() noexcept {
        readersSemaphore = CreateSemaphoreW(nullptr, 0, kMaxWaiters, nullptr);
        writersSemaphore = CreateSemaphoreW(nullptr, 0, kMaxWaiters, nullptr);
        InitializeCriticalSection(&guard);
    }
    ~CSyncRWLock() {
        DeleteCriticalSection(&guard);
        CloseHandle(readersSemaphore);
        CloseHandle(writersSemaphore);
    }
    CSyncRWLock(const CSyncRWLock&) = delete;
    CSyncRWLock& operator=(const CSyncRWLock&) = delete;

    void AcquireShared(std::uint32_t threadId = 0) override {
        threadId = ThreadOrCaller(threadId);
        EnterCriticalSection(&guard);
        if (!GrantShared(threadId)) {
            WaitAsReader(threadId);
            return;
        }
        LeaveCriticalSection(&guard);
    }

    void ReleaseShared(std::uint32_t threadId = 0) override {
        threadId = ThreadOrCaller(threadId);
        EnterCriticalSection(&guard);
        if (activeReaders == 0) {
            ReleaseOwnersSharedHold(threadId);
            return;
        }
        std::uint32_t* depth = readerDepths.Find(threadId);
        if (depth == nullptr) {
            RaiseFatalError("lock released shared by a thread that does not read");
        }
        if (*depth > 1) {
            --*depth;
            LeaveCriticalSection(&guard);
            return;
        }
        readerDepths.Erase(threadId);
        --activeReaders;
        if (activeReaders != 0 || waitingWriters == 0) {
            LeaveCriticalSection(&guard);
            return;
        }
        // The last reader is gone: one writer gets the lock; waiting readers stay behind it.
        --waitingWriters;
        ++activeWriters;
        LeaveCriticalSection(&guard);
        ReleaseSemaphore(writersSemaphore, 1, nullptr);
    }

    void AcquireExclusive(std::uint32_t threadId = 0) override {
        threadId = ThreadOrCaller(threadId);
        EnterCriticalSection(&guard);
        if (!GrantExclusive(threadId)) {
            WaitAsWriter(threadId);
            return;
        }
        LeaveCriticalSection(&guard);
    }

    void ReleaseExclusive(std::uint32_t threadId = 0) override {
        threadId = ThreadOrCaller(threadId);
        EnterCriticalSection(&guard);
        if (activeWriters == 0 || writerThreadId != threadId || writerDepth == 0) {
            RaiseFatalError("lock released exclusive by a thread that does not own it");
        }
        --writerDepth;
        if (writerDepth != 0 || writerSharedDepth != 0) {
            LeaveCriticalSection(&guard);
            return;
        }
        ReleaseOwnership();
    }

    Counters GetCounters() const noexcept {
        EnterCriticalSection(&guard);
        const Counters counters{waitingReaders, waitingWriters,
                                activeReaders,  activeWriters,
                                writerThreadId, writerSharedDepth,
                                writerDepth,    static_cast<std::uint32_t>(readerDepths.Size())};
        LeaveCriticalSection(&guard);
        return counters;
    }

  private:
    static constexpr LONG kMaxWaiters = 0x7fffffff;

    static std::uint32_t ThreadOrCaller(std::uint32_t threadId) noexcept {
        return threadId != 0 ? threadId : GetCurrentThreadId();
    }

    // Under guard: true when the thread may have a shared hold now (and has it).
    bool GrantShared(std::uint32_t threadId) noexcept {
        if (activeReaders != 0) {
            if (std::uint32_t* depth = readerDepths.Find(threadId)) {
                ++*depth;  // a reader re-enters even while writers wait
                return true;
            }
            return waitingWriters == 0 && AddReader(threadId);
        }
        if (activeWriters != 0) {
            if (writerThreadId != threadId) {
                return false;
            }
            ++writerSharedDepth;  // the owner reads inside its own exclusive hold
            return true;
        }
        return waitingWriters == 0 && AddReader(threadId);
    }

    bool AddReader(std::uint32_t threadId) noexcept {
        readerDepths.Insert(threadId, 1);
        ++activeReaders;
        return true;
    }

    // Under guard: true when the thread may have an exclusive hold now (and has it).
    bool GrantExclusive(std::uint32_t threadId) noexcept {
        if (activeReaders != 0) {
            if (readerDepths.Find(threadId) != nullptr) {
                RaiseFatalError("lock asked exclusive by a thread that holds it shared");
            }
            return false;
        }
        if (activeWriters == 0) {
            ++activeWriters;
            BecomeOwner(threadId);
            return true;
        }
        if (writerThreadId != threadId) {
            return false;
        }
        ++writerDepth;
        return true;
    }

    void BecomeOwner(std::uint32_t threadId) noexcept {
        writerThreadId = threadId;
        writerSharedDepth = 0;
        writerDepth = 1;
    }

    // Entered with guard held, returns with it left and the thread counted as a reader by whoever
    // released the semaphore.
    void WaitAsReader(std::uint32_t threadId) noexcept {
        ++waitingReaders;
        LeaveCriticalSection(&guard);
        WaitForSingleObject(readersSemaphore, INFINITE);
        EnterCriticalSection(&guard);
        readerDepths.Insert(threadId, 1);
        LeaveCriticalSection(&guard);
    }

    // Entered with guard held, returns with it left and the thread the exclusive owner.
    void WaitAsWriter(std::uint32_t threadId) noexcept {
        ++waitingWriters;
        LeaveCriticalSection(&guard);
        WaitForSingleObject(writersSemaphore, INFINITE);
        EnterCriticalSection(&guard);
        BecomeOwner(threadId);
        LeaveCriticalSection(&guard);
    }

    // Under guard, with no reader active: the exclusive owner gives back a shared hold it took
    // inside its exclusive hold. Leaves guard.
    void ReleaseOwnersSharedHold(std::uint32_t threadId) noexcept {
        if (activeWriters == 0 || writerThreadId != threadId || writerSharedDepth == 0) {
            RaiseFatalError("lock released shared by a thread that does not read");
        }
        --writerSharedDepth;
        if (writerSharedDepth != 0 || writerDepth != 0) {
            LeaveCriticalSection(&guard);
            return;
        }
        ReleaseOwnership();
    }

    // Under guard, once the owner has given every hold back: hands the lock to the next writer,
    // else to every waiting reader at once. Leaves guard, then wakes them.
    void ReleaseOwnership() noexcept {
        --activeWriters;
        writerThreadId = 0;
        HANDLE wake = nullptr;
        LONG count = 0;
        if (waitingWriters != 0) {
            --waitingWriters;
            ++activeWriters;
            wake = writersSemaphore;
            count = 1;
        } else if (waitingReaders != 0) {
            activeReaders = waitingReaders;
            waitingReaders = 0;
            wake = readersSemaphore;
            count = static_cast<LONG>(activeReaders);
        }
        LeaveCriticalSection(&guard);
        if (count != 0) {
            ReleaseSemaphore(wake, count, nullptr);
        }
    }

    mutable CRITICAL_SECTION guard;
    HANDLE readersSemaphore = nullptr;
    HANDLE writersSemaphore = nullptr;
    std::uint32_t waitingReaders = 0;
    std::uint32_t waitingWriters = 0;
    std::uint32_t activeReaders = 0;
    std::uint32_t activeWriters = 0;
    std::uint32_t writerThreadId = 0;
    std::uint32_t writerSharedDepth = 0;
    std::uint32_t writerDepth = 0;
    ReaderDepths readerDepths;
};

}  // namespace qv
