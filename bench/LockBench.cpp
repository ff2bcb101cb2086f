// CSyncRWLock next to the platform's slim reader/writer lock and the standard shared mutex.
#include <windows.h>

#include <cstddef>
#include <shared_mutex>
#include <thread>

#include "bench/Alternate.h"
#include "bench/BenchHarness.h"
#include "sdk/CSyncRWLock.h"

namespace devicescan::bench {

namespace {

// Every lock under test, with the same four operations.
struct OurLock {
    qv::CSyncRWLock lock;
    void LockShared() { lock.AcquireShared(0); }
    void UnlockShared() { lock.ReleaseShared(0); }
    void Lock() { lock.AcquireExclusive(0); }
    void Unlock() { lock.ReleaseExclusive(0); }
};

struct SlimLock {
    SRWLOCK lock = SRWLOCK_INIT;
    void LockShared() { AcquireSRWLockShared(&lock); }
    void UnlockShared() { ReleaseSRWLockShared(&lock); }
    void Lock() { AcquireSRWLockExclusive(&lock); }
    void Unlock() { ReleaseSRWLockExclusive(&lock); }
};

struct StdLock {
    std::shared_mutex lock;
    void LockShared() { lock.lock_shared(); }
    void UnlockShared() { lock.unlock_shared(); }
    void Lock() { lock.lock(); }
    void Unlock() { lock.unlock(); }
};

// The work done under each hold of the contended runs: enough to make the holds overlap.
volatile std::size_t sharedCounter = 0;

template <typename LockT>
double Shared(const bench::Context& context) {
    LockT lock;
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            lock.LockShared();
            lock.UnlockShared();
        }
    });
}

template <typename LockT>
double Exclusive(const bench::Context& context) {
    LockT lock;
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            lock.Lock();
            lock.Unlock();
        }
    });
}

// Two threads, n holds between them; exclusive or shared.
template <typename LockT, bool kExclusive>
double Contended(const bench::Context& context) {
    LockT lock;
    return context.NsPerOp([&](std::size_t n) {
        auto work = [&lock](std::size_t count) {
            for (std::size_t i = 0; i < count; ++i) {
                if (kExclusive) {
                    lock.Lock();
                    sharedCounter = sharedCounter + 1;
                    lock.Unlock();
                } else {
                    lock.LockShared();
                    sharedCounter = sharedCounter + 0;
                    lock.UnlockShared();
                }
            }
        };
        std::thread other(work, n / 2);
        work(n - n / 2);
        other.join();
    });
}

// Measures the three locks alternately and prints ours against each peer.
template <double (*kOurs)(const bench::Context&), double (*kSlim)(const bench::Context&),
          double (*kStandard)(const bench::Context&)>
void CompareAll(const bench::Context& context, const char* what) {
    const auto ns =
        bench::Alternate(context, {[&] { return kOurs(context); }, [&] { return kSlim(context); },
                                   [&] { return kStandard(context); }});
    context.Compare(what, "CSyncRWLock", ns[0], "SRWLOCK", ns[1]);
    context.Compare(what, "CSyncRWLock", ns[0], "std::shared_mutex", ns[2]);
}

}  // namespace

BENCHMARK_GROUP(LockUncontended) {
    CompareAll<Shared<OurLock>, Shared<SlimLock>, Shared<StdLock>>(context,
                                                                   "shared acquire+release");
    CompareAll<Exclusive<OurLock>, Exclusive<SlimLock>, Exclusive<StdLock>>(
        context, "exclusive acquire+release");
}

BENCHMARK_GROUP(LockContended) {
    CompareAll<Contended<OurLock, true>, Contended<SlimLock, true>, Contended<StdLock, true>>(
        context, "two threads, exclusive");
    CompareAll<Contended<OurLock, false>, Contended<SlimLock, false>, Contended<StdLock, false>>(
        context, "two threads, shared");
}

}  // namespace devicescan::bench
