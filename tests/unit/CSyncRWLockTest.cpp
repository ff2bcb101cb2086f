#include "sdk/CSyncRWLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "tests/support/TestThreads.h"

namespace {

using qv::CSyncRWLock;
using test_support::Actor;
using test_support::WaitUntil;

// Waits, bounded, until that many threads queue for the lock.
bool Waiting(const CSyncRWLock& lock, std::uint32_t readers, std::uint32_t writers) {
    return WaitUntil([&] {
        const auto c = lock.GetCounters();
        return c.waitingReaders == readers && c.waitingWriters == writers;
    });
}

// No holder, no waiter and no depth left over.
bool IsFree(const CSyncRWLock& lock) {
    const CSyncRWLock::Counters counters = lock.GetCounters(), none{};
    return std::memcmp(&counters, &none, sizeof(counters)) == 0;
}

// The owner nests exclusive holds and reads inside them; the lock stays exclusive until its
// last hold of either kind is given back.
TEST(SyncRWLockRecursion, OwnerNestsAndReadsInsideItsExclusiveHold) {
    CSyncRWLock lock;
    Actor reader;
    lock.AcquireExclusive();
    lock.AcquireExclusive();
    lock.AcquireShared();

    reader.Start([&] { lock.AcquireShared(); });
    ASSERT_TRUE(Waiting(lock, 1, 0));
    lock.ReleaseExclusive();
    lock.ReleaseExclusive();
    EXPECT_FALSE(reader.Finished(0)) << "the owner's shared hold still keeps the lock exclusive";
    lock.ReleaseShared();
    ASSERT_TRUE(reader.Finished()) << "the owner's last hold did not hand over";
    ASSERT_TRUE(reader.Do([&] { lock.ReleaseShared(); }));
    EXPECT_TRUE(IsFree(lock));
}

// A reader that re-enters gets in past queued writers, and they wait for its last hold; then they
// are served one at a time before any queued reader, and the readers are released together. The
// lock passes from shared to exclusive, exclusive to exclusive, and exclusive to shared.
TEST(SyncRWLockHandOver, QueuedWritersGoFirstOneAtATimeThenQueuedReadersTogether) {
    CSyncRWLock lock;
    Actor holder, w1, w2;
    Actor readers[3];
    ASSERT_TRUE(holder.Do([&] { lock.AcquireShared(); }));
    w1.Start([&] { lock.AcquireExclusive(); });
    w2.Start([&] { lock.AcquireExclusive(); });
    ASSERT_TRUE(Waiting(lock, 0, 2));
    for (Actor& reader : readers) {
        reader.Start([&] { lock.AcquireShared(); });
    }
    ASSERT_TRUE(Waiting(lock, 3, 2)) << "new readers did not queue behind the writers";
    ASSERT_TRUE(holder.Do([&] { lock.AcquireShared(); })) << "a reader could not re-enter";
    ASSERT_TRUE(holder.Do([&] { lock.ReleaseShared(); }));
    EXPECT_FALSE(w1.Finished(0) || w2.Finished(0)) << "a writer got in past a shared hold";
    ASSERT_TRUE(holder.Do([&] { lock.ReleaseShared(); }));

    ASSERT_TRUE(WaitUntil([&] { return w1.Finished(0) || w2.Finished(0); }))
        << "the last shared hold did not hand over to a writer";
    Actor& first = w1.Finished(0) ? w1 : w2;
    Actor& second = &first == &w1 ? w2 : w1;
    EXPECT_FALSE(second.Finished(0)) << "two writers hold the lock";
    ASSERT_TRUE(first.Do([&] { lock.ReleaseExclusive(); }));
    ASSERT_TRUE(second.Finished()) << "the second writer was not handed the lock";
    EXPECT_FALSE(readers[0].Finished(0)) << "a reader overtook a queued writer";

    ASSERT_TRUE(second.Do([&] { lock.ReleaseExclusive(); }));
    EXPECT_EQ(lock.GetCounters().activeReaders, 3u) << "the releaser counts every reader it wakes";
    for (Actor& reader : readers) {
        EXPECT_TRUE(reader.Finished()) << "a reader was left waiting";
        ASSERT_TRUE(reader.Do([&] { lock.ReleaseShared(); }));
    }
    EXPECT_TRUE(IsFree(lock));
}

// Four threads take random shared and exclusive holds, each re-entered shared: no writer ever
// shares the lock, and the lock ends free.
TEST(SyncRWLockStress, RandomWorkKeepsReadersAndWritersApart) {
    CSyncRWLock lock;
    std::atomic<int> readersInside{0}, writersInside{0}, violations{0};
    test_support::RunThreadsTogether(4, [&](int thread) {
        std::uint32_t seed = 12345u + static_cast<std::uint32_t>(thread);
        for (int round = 0; round < 1500; ++round) {
            seed = seed * 1664525u + 1013904223u;
            const bool exclusive = (seed >> 30) == 0;
            exclusive ? lock.AcquireExclusive() : lock.AcquireShared();
            lock.AcquireShared();
            std::atomic<int>& inside = exclusive ? writersInside : readersInside;
            ++inside;
            violations += writersInside > 1 || (writersInside == 1 && readersInside > 0);
            --inside;
            lock.ReleaseShared();
            exclusive ? lock.ReleaseExclusive() : lock.ReleaseShared();
        }
    });
    EXPECT_EQ(violations, 0);
    EXPECT_TRUE(IsFree(lock));
}

// Thread ids stand for the threads here: 5 holds the lock shared, 6 holds nothing.
TEST(SyncRWLockDeathTest, MisuseEndsTheProcess) {
    CSyncRWLock lock;
    EXPECT_DEATH(lock.ReleaseShared(), "does not read");
    EXPECT_DEATH(lock.ReleaseExclusive(), "does not own");
    lock.AcquireShared(5);
    EXPECT_DEATH(lock.ReleaseShared(6), "does not read");
    EXPECT_DEATH(lock.AcquireExclusive(5), "holds it shared");
    lock.ReleaseShared(5);
}

}  // namespace
