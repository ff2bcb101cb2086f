#include "SynchronyzedObjectContainer.h"

#include <gtest/gtest.h>

#include <shared_mutex>
#include <vector>

#include "TestThreads.h"

namespace {

using Container = qv::SynchronyzedObjectContainer<int*>;
using testing_support::Actor;
using testing_support::WaitUntil;

TEST(SynchronyzedObjectContainer, KeepsDistinctElementsInInsertionOrder) {
    int a = 0;
    int b = 0;
    int c = 0;
    Container container;
    EXPECT_TRUE(container.Add(&a));
    EXPECT_TRUE(container.Add(&b));
    EXPECT_TRUE(container.Add(&c));
    EXPECT_FALSE(container.Add(&b)) << "an element occurs once";
    EXPECT_EQ(container.Items(), (std::vector<int*>{&a, &b, &c}));

    EXPECT_TRUE(container.Remove(&b));
    EXPECT_EQ(container.Items(), (std::vector<int*>{&a, &c})) << "the rest keep their order";
    EXPECT_FALSE(container.Remove(&b));
    EXPECT_TRUE(container.Add(&b));
    EXPECT_EQ(container.Items(), (std::vector<int*>{&a, &c, &b}));
}

TEST(SynchronyzedObjectContainer, RemovingAnUnknownElementChangesNothing) {
    int a = 0;
    int stranger = 0;
    Container container;
    EXPECT_FALSE(container.Remove(&a)) << "empty container";
    container.Add(&a);
    EXPECT_FALSE(container.Remove(&stranger));
    EXPECT_EQ(container.Items(), (std::vector<int*>{&a}));
    EXPECT_EQ(container.GetCounters().activeWriters, 0u) << "the exclusive hold was given back";
}

TEST(SynchronyzedObjectContainer, ChangesWaitForAReaderToFinish) {
    int a = 0;
    int b = 0;
    Container container;
    container.Add(&a);
    Actor adder;
    Actor remover;
    {
        std::shared_lock reading(container);
        adder.Start([&] { EXPECT_TRUE(container.Add(&b)); });
        ASSERT_TRUE(WaitUntil([&] { return container.GetCounters().waitingWriters == 1; }));
        remover.Start([&] { EXPECT_TRUE(container.Remove(&a)); });
        ASSERT_TRUE(WaitUntil([&] { return container.GetCounters().waitingWriters == 2; }));
        EXPECT_EQ(container.Items(), (std::vector<int*>{&a})) << "changed under a reader";
    }
    ASSERT_TRUE(adder.Finished());
    ASSERT_TRUE(remover.Finished());
    EXPECT_EQ(container.Items(), (std::vector<int*>{&b}));
}

}  // namespace
