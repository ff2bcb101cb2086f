#include "StringDataPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "StringT.h"
#include "TestThreads.h"

namespace {

using qv::String;

TEST(StringDataPool, RecycledBlocksStartFresh) {
    const qv::StringData* recycled = nullptr;
    {
        String grown;
        grown = std::wstring(500, L'x').c_str();
        recycled = grown.GetData();
    }
    String fresh;
    fresh.Empty();
    const qv::StringData* data = fresh.GetData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data, recycled) << "the block given back last is handed out first";
    EXPECT_EQ(data->memMgr, qv::StringMemMgr::Default());
    EXPECT_EQ(data->length, 0u);
    EXPECT_EQ(data->capacity, 64u);
    EXPECT_EQ(data->growBy, 64u);
    EXPECT_EQ(data->ownsBuffer, 1);
    EXPECT_EQ(data->ownsData, 1);
}

// Strings made, copied and destroyed on several threads at once never share bookkeeping.
TEST(StringDataPool, ThreadsNeverShareABlock) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::atomic<int> damaged{0};
    {
        std::vector<std::unique_ptr<testing_support::TestThread>> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.push_back(std::make_unique<testing_support::TestThread>([t, &damaged] {
                const std::wstring mine = L"thread " + std::to_wstring(t) + L" text";
                for (int round = 0; round < kRounds; ++round) {
                    String a(mine.c_str());
                    String b(a);
                    String c;
                    c = b;
                    damaged += a.GetData() == b.GetData() || b.GetData() == c.GetData();
                    damaged += mine != c.GetString() || c.GetLength() != mine.size();
                }
            }));
        }
        for (auto& thread : threads) {
            EXPECT_TRUE(thread->Join(60000));
        }
    }
    EXPECT_EQ(damaged, 0);
}

}  // namespace
