#include "CSyncRWLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "TestThreads.h"

namespace {

using qv::CSyncRWLock;
using testing_support::Actor;
using testing_support::TestThread;
using testing_support::WaitUntil;

// Waits until the lock's bookkeeping satisfies condition, bounded.
template <typename Condition>
bool WaitForLock(const CSyncRWLock& lock, Condition condition) {
    return WaitUntil([&] { return condition(lock.GetCounters()); });
}

bool WritersWaiting(const CSyncRWLock& lock, std::uint32_t count) {
    return WaitForLock(lock, [=](const auto& c) { return c.waitingWriters == count; });
}

bool ReadersWaiting(const CSyncRWLock& lock, std::uint32_t count) {
    return WaitForLock(lock, [=](const auto& c) { return c.waitingReaders == count; });
}

void ExpectFree(const CSyncRWLock& lock) {
    const auto c = lock.GetCounters();
    EXPECT_EQ(c.activeReaders, 0u);
    EXPECT_EQ(c.activeWriters, 0u);
    EXPECT_EQ(c.waitingReaders, 0u);
    EXPECT_EQ(c.waitingWriters, 0u);
    EXPECT_EQ(c.writerThreadId, 0u);
    EXPECT_EQ(c.readerEntries, 0u);
}

TEST(SyncRWLockRecursion, SharedHoldsCountPerThread) {
    CSyncRWLock lock;
    Actor writer;
    lock.AcquireShared();
    lock.AcquireShared();
    EXPECT_EQ(lock.GetCounters().activeReaders, 1u) << "one thread is one reader";
    EXPECT_EQ(lock.GetCounters().readerEntries, 1u);

    writer.Start([&] { lock.AcquireExclusive(); });
    ASSERT_TRUE(WritersWaiting(lock, 1));
    lock.ReleaseShared();
    EXPECT_EQ(lock.GetCounters().activeReaders, 1u);
    EXPECT_FALSE(writer.Finished(0)) << "the writer got in while a shared hold was left";
    lock.ReleaseShared();
    ASSERT_TRUE(writer.Finished()) << "the last shared hold did not hand over to the writer";
    ASSERT_TRUE(writer.Do([&] { lock.ReleaseExclusive(); }));
    ExpectFree(lock);
}

TEST(SyncRWLockRecursion, ExclusiveHoldsNest) {
    CSyncRWLock lock;
    Actor reader;
    for (int i = 0; i < 3; ++i) {
        lock.AcquireExclusive();
    }
    EXPECT_EQ(lock.GetCounters().writerDepth, 3u);
    reader.Start([&] { lock.AcquireShared(); });
    ASSERT_TRUE(ReadersWaiting(lock, 1));
    lock.ReleaseExclusive();
    lock.ReleaseExclusive();
    EXPECT_FALSE(reader.Finished(0)) << "the reader got in with one exclusive hold left";
    lock.ReleaseExclusive();
    ASSERT_TRUE(reader.Finished());
    ASSERT_TRUE(reader.Do([&] { lock.ReleaseShared(); }));
    ExpectFree(lock);
}

TEST(SyncRWLockRecursion, OwnerReadsInsideItsExclusiveHold) {
    CSyncRWLock lock;
    Actor reader;
    lock.AcquireExclusive();
    lock.AcquireShared();
    EXPECT_EQ(lock.GetCounters().activeReaders, 0u);
    EXPECT_EQ(lock.GetCounters().writerSharedDepth, 1u);

    reader.Start([&] { lock.AcquireShared(); });
    ASSERT_TRUE(ReadersWaiting(lock, 1));
    lock.ReleaseExclusive();
    EXPECT_FALSE(reader.Finished(0)) << "the owner's shared hold still keeps the lock exclusive";
    EXPECT_EQ(lock.GetCounters().activeWriters, 1u);
    lock.ReleaseShared();
    ASSERT_TRUE(reader.Finished()) << "the owner's last hold did not hand over";
    ASSERT_TRUE(reader.Do([&] { lock.ReleaseShared(); }));
    ExpectFree(lock);
}

TEST(SyncRWLockHandOver, QueuedWriterHoldsBackNewReadersButNotReturningOnes) {
    CSyncRWLock lock;
    Actor a;
    Actor b;
    Actor c;
    ASSERT_TRUE(a.Do([&] { lock.AcquireShared(); }));
    b.Start([&] { lock.AcquireExclusive(); });
    ASSERT_TRUE(WritersWaiting(lock, 1));
    c.Start([&] { lock.AcquireShared(); });
    ASSERT_TRUE(ReadersWaiting(lock, 1)) << "a new reader did not queue behind the writer";
    ASSERT_TRUE(a.Do([&] { lock.AcquireShared(); })) << "a reader could not re-enter";

    ASSERT_TRUE(a.Do([&] { lock.ReleaseShared(); }));
    EXPECT_FALSE(b.Finished(0));
    ASSERT_TRUE(a.Do([&] { lock.ReleaseShared(); }));
    ASSERT_TRUE(b.Finished()) << "the writer was not handed the lock";
    EXPECT_FALSE(c.Finished(0)) << "the reader ran together with the writer";
    EXPECT_EQ(lock.GetCounters().writerThreadId, b.Id());

    ASSERT_TRUE(b.Do([&] { lock.ReleaseExclusive(); }));
    ASSERT_TRUE(c.Finished()) << "the writer did not hand over to the waiting reader";
    ASSERT_TRUE(c.Do([&] { lock.ReleaseShared(); }));
    ExpectFree(lock);
}

TEST(SyncRWLockHandOver, QueuedWritersGoBeforeAQueuedReader) {
    CSyncRWLock lock;
    Actor w1;
    Actor w2;
    Actor reader;
    lock.AcquireExclusive();
    w1.Start([&] { lock.AcquireExclusive(); });
    ASSERT_TRUE(WritersWaiting(lock, 1));
    w2.Start([&] { lock.AcquireExclusive(); });
    ASSERT_TRUE(WritersWaiting(lock, 2));
    reader.Start([&] { lock.AcquireShared(); });
    ASSERT_TRUE(ReadersWaiting(lock, 1));

    lock.ReleaseExclusive();
    ASSERT_TRUE(WaitUntil([&] { return w1.Finished(0) || w2.Finished(0); }));
    Actor& first = w1.Finished(0) ? w1 : w2;
    Actor& second = &first == &w1 ? w2 : w1;
    EXPECT_FALSE(second.Finished(0)) << "two writers hold the lock";
    EXPECT_FALSE(reader.Finished(0)) << "the reader overtook a queued writer";

    ASSERT_TRUE(first.Do([&] { lock.ReleaseExclusive(); }));
    ASSERT_TRUE(second.Finished()) << "the second writer was not handed the lock";
    EXPECT_FALSE(reader.Finished(0)) << "the reader overtook a queued writer";

    ASSERT_TRUE(second.Do([&] { lock.ReleaseExclusive(); }));
    ASSERT_TRUE(reader.Finished());
    ASSERT_TRUE(reader.Do([&] { lock.ReleaseShared(); }));
    ExpectFree(lock);
}

TEST(SyncRWLockHandOver, QueuedReadersAreReleasedTogether) {
    CSyncRWLock lock;
    Actor readers[3];
    lock.AcquireExclusive();
    for (Actor& reader : readers) {
        reader.Start([&] { lock.AcquireShared(); });
    }
    ASSERT_TRUE(ReadersWaiting(lock, 3));

    lock.ReleaseExclusive();
    const auto handedOver = lock.GetCounters();
    EXPECT_EQ(handedOver.activeReaders, 3u) << "the releaser counts every reader it wakes";
    EXPECT_EQ(handedOver.waitingReaders, 0u);
    EXPECT_EQ(handedOver.activeWriters, 0u);
    for (Actor& reader : readers) {
        EXPECT_TRUE(reader.Finished()) << "a reader was left waiting";
    }
    EXPECT_EQ(lock.GetCounters().readerEntries, 3u) << "all three hold the lock at once";
    for (Actor& reader : readers) {
        ASSERT_TRUE(reader.Do([&] { lock.ReleaseShared(); }));
    }
    ExpectFree(lock);
}

TEST(SyncRWLockHandOver, ThreadIdsStandForTheirThreads) {
    CSyncRWLock lock;
    const std::uint32_t self = GetCurrentThreadId();
    lock.AcquireShared(self);
    lock.AcquireShared(0);
    lock.AcquireShared(self + 1);
    EXPECT_EQ(lock.GetCounters().activeReaders, 2u) << "0 is the calling thread";
    lock.ReleaseShared(0);
    lock.ReleaseShared(self);
    lock.ReleaseShared(self + 1);
    ExpectFree(lock);
}

TEST(SyncRWLockStress, RandomWorkKeepsReadersAndWritersApart) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 1500;
    CSyncRWLock lock;
    std::atomic<int> readersInside{0};
    std::atomic<int> writersInside{0};
    std::atomic<int> violations{0};
    std::atomic<int> sharedRounds{0};
    std::atomic<int> exclusiveRounds{0};

    auto work = [&](std::uint32_t seed) {
        for (int round = 0; round < kRounds; ++round) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const bool nested = (seed & 8) != 0;
            if (seed % 4 != 0) {
                lock.AcquireShared();
                ++readersInside;
                violations += writersInside != 0;
                if (nested) {
                    lock.AcquireShared();
                    violations += writersInside != 0;
                    lock.ReleaseShared();
                }
                --readersInside;
                lock.ReleaseShared();
                ++sharedRounds;
                continue;
            }
            lock.AcquireExclusive();
            violations += writersInside.fetch_add(1) != 0;
            violations += readersInside != 0;
            if (nested) {
                lock.AcquireShared();
                lock.AcquireExclusive();
                violations += readersInside != 0;
                lock.ReleaseExclusive();
                lock.ReleaseShared();
            }
            --writersInside;
            lock.ReleaseExclusive();
            ++exclusiveRounds;
        }
    };

    {
        std::vector<std::unique_ptr<TestThread>> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.push_back(std::make_unique<TestThread>([&work, i] { work(2463534242u + i); }));
        }
        for (auto& thread : threads) {
            EXPECT_TRUE(thread->Join(60000)) << "the lock got stuck";
        }
    }
    EXPECT_EQ(violations, 0);
    EXPECT_EQ(sharedRounds + exclusiveRounds, kThreads * kRounds);
    EXPECT_GT(exclusiveRounds, 0);
    ExpectFree(lock);
}

using SyncRWLockDeathTest = ::testing::Test;

TEST_F(SyncRWLockDeathTest, ReleasingAHoldNotHeldEndsTheProcess) {
    EXPECT_DEATH(
        {
            CSyncRWLock lock;
            lock.ReleaseShared();
        },
        "does not read");
    EXPECT_DEATH(
        {
            CSyncRWLock lock;
            lock.AcquireShared(5);
            lock.ReleaseShared(6);
        },
        "does not read");
    EXPECT_DEATH(
        {
            CSyncRWLock lock;
            lock.AcquireExclusive();
            lock.ReleaseShared();
        },
        "does not read");
    EXPECT_DEATH(
        {
            CSyncRWLock lock;
            lock.ReleaseExclusive();
        },
        "does not own");
    EXPECT_DEATH(
        {
            CSyncRWLock lock;
            lock.AcquireExclusive(5);
            lock.ReleaseExclusive(6);
        },
        "does not own");
    EXPECT_DEATH(
        {
            CSyncRWLock lock;
            lock.AcquireExclusive();
            lock.ReleaseExclusive();
            lock.ReleaseExclusive();
        },
        "does not own");
}

TEST_F(SyncRWLockDeathTest, UpgradingASharedHoldEndsTheProcess) {
    EXPECT_DEATH(
        {
            CSyncRWLock lock;
            lock.AcquireShared();
            lock.AcquireExclusive();
        },
        "holds it shared");
}

}  // namespace
