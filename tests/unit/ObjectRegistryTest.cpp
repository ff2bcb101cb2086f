#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <new>

#include "ExportedObjectDeclaration.h"
#include "Exports.h"
#include "ObjectRegistry.h"
#include "ResultCodes.h"
#include "TestThreads.h"

namespace {

using qv::InterfaceId;
using qv::IQvBaseInterface;
using qv::module::ExportedObjectDeclaration;
using qv::module::ObjectRegistry;

constexpr InterfaceId kWidgetId{0x1111222233334444ull, 0x5555666677778888ull};

std::atomic<int> widgetsAlive{0};
std::atomic<bool> constructing{false};
std::atomic<bool> overlapSeen{false};

// Counts live widgets, and notes when two constructions or destructions overlap: the registry
// must serialise them.
class Widget final : public IQvBaseInterface {
  public:
    Widget() { Change(+1); }
    ~Widget() { Change(-1); }
    void* QueryInterface(InterfaceId id) override {
        return id == IQvBaseInterface::kId || id == kWidgetId ? this : nullptr;
    }

  private:
    static void Change(int alive) {
        if (constructing.exchange(true)) {
            overlapSeen = true;
        }
        Sleep(0);
        widgetsAlive += alive;
        constructing = false;
    }
};

class Unbuildable final : public IQvBaseInterface {
  public:
    Unbuildable() { throw std::bad_alloc(); }
    void* QueryInterface(InterfaceId) override { return nullptr; }
};

class ObjectRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ObjectRegistry::HoldCount(), 0);
        widgetsAlive = 0;
        overlapSeen = false;
    }
    void TearDown() override {
        EXPECT_EQ(ObjectRegistry::HoldCount(), 0);
        EXPECT_EQ(ObjectRegistry::Current(), nullptr);
    }
};

TEST_F(ObjectRegistryTest, ExistsOnlyWhileHeld) {
    {
        ExportedObjectDeclaration<Widget> declaration(L"Test.Widget");
        EXPECT_EQ(ObjectRegistry::HoldCount(), 1);
        EXPECT_NE(ObjectRegistry::Current(), nullptr);
    }
    EXPECT_EQ(ObjectRegistry::Current(), nullptr);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(QvCreateObject(L"Test.Widget", IQvBaseInterface::kId, &out), qv::kResultNotFound);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ObjectRegistry::Current(), nullptr) << "the call's own registry went away with it";
}

TEST_F(ObjectRegistryTest, FirstRegistrationWinsAndForeignObjectsAreLeftAlone) {
    auto first = std::make_unique<ExportedObjectDeclaration<Widget>>(L"Test.Same");
    ExportedObjectDeclaration<Unbuildable> second(L"Test.Same");
    ExportedObjectDeclaration<Unbuildable> unbuildable(L"Test.Unbuildable");
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(QvCreateObject(L"Test.Same", InterfaceId{1, 2}, &out), qv::kResultNotFound);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(widgetsAlive, 0) << "the object that did not answer was not destroyed";

    ASSERT_EQ(QvCreateObject(L"Test.Same", kWidgetId, &out), qv::kResultSuccess);
    QvDestroyObject(L"Test.Unbuildable", out);
    EXPECT_EQ(widgetsAlive, 1);
    QvDestroyObject(L"Test.Same", out);
    EXPECT_EQ(widgetsAlive, 0);

    // Unregistering removes the name, whichever declaration it named.
    first.reset();
    EXPECT_EQ(QvCreateObject(L"Test.Same", IQvBaseInterface::kId, &out), qv::kResultNotFound);
}

TEST_F(ObjectRegistryTest, FailedConstructionGivesBackLockAndHold) {
    ExportedObjectDeclaration<Unbuildable> unbuildable(L"Test.Unbuildable");
    ExportedObjectDeclaration<Widget> widgets(L"Test.Widget");
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(QvCreateObject(L"Test.Unbuildable", IQvBaseInterface::kId, &out),
              qv::kResultNotFound);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ObjectRegistry::HoldCount(), 2);

    // The registry lock is re-entrant for this thread, so ask from another one.
    testing_support::Actor other;
    std::uint32_t result = 0;
    ASSERT_TRUE(other.Do([&] {
        result = QvCreateObject(L"Test.Widget", IQvBaseInterface::kId, &out);
        QvDestroyObject(L"Test.Widget", out);
    })) << "the failed construction kept the registry lock";
    EXPECT_EQ(result, qv::kResultSuccess);
}

// Threads 1 to 3 create and destroy while thread 0 registers and unregisters a second name.
TEST_F(ObjectRegistryTest, ConcurrentCallsAreSerialised) {
    std::atomic<int> failures{0};
    {
        ExportedObjectDeclaration<Widget> declaration(L"Test.Widget");
        testing_support::RunThreadsTogether(
            4,
            [&](int thread) {
                for (int i = 0; i < 300; ++i) {
                    if (thread == 0) {
                        ExportedObjectDeclaration<Widget> other(L"Test.Other");
                        continue;
                    }
                    void* out = nullptr;
                    failures += QvCreateObject(L"Test.Widget", kWidgetId, &out) != 0;
                    QvDestroyObject(L"Test.Widget", out);
                }
            },
            60000);
        EXPECT_EQ(ObjectRegistry::HoldCount(), 1);
    }
    EXPECT_EQ(failures, 0);
    EXPECT_FALSE(overlapSeen);
    EXPECT_EQ(widgetsAlive, 0);
}

}  // namespace
