#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "ExportedObjectDeclaration.h"
#include "Exports.h"
#include "ObjectRegistry.h"
#include "ResultCodes.h"

namespace {

using qv::InterfaceId;
using qv::IQvBaseInterface;
using qv::module::ExportedObjectDeclaration;
using qv::module::ObjectRegistry;

constexpr InterfaceId kWidgetId{0x1111222233334444ull, 0x5555666677778888ull};
constexpr InterfaceId kUnknownId{0x0123456789abcdefull, 0xfedcba9876543210ull};

std::atomic<int> widgetsAlive{0};
std::atomic<bool> constructing{false};
std::atomic<bool> overlapSeen{false};

// Construction and destruction must never overlap: the registry serialises them.
struct OverlapProbe {
    OverlapProbe() {
        if (constructing.exchange(true)) {
            overlapSeen = true;
        }
        Sleep(0);
    }
    ~OverlapProbe() { constructing = false; }
};

class Widget final : public IQvBaseInterface {
  public:
    Widget() {
        OverlapProbe probe;
        ++widgetsAlive;
    }
    ~Widget() {
        OverlapProbe probe;
        --widgetsAlive;
    }
    void* QueryInterface(InterfaceId id) override {
        if (id == IQvBaseInterface::kId || id == kWidgetId) {
            return static_cast<IQvBaseInterface*>(this);
        }
        return nullptr;
    }
};

class Gadget final : public IQvBaseInterface {
  public:
    void* QueryInterface(InterfaceId id) override {
        return id == IQvBaseInterface::kId ? this : nullptr;
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
    EXPECT_EQ(ObjectRegistry::Current(), nullptr);
    {
        ExportedObjectDeclaration<Widget> declaration(L"Test.Widget");
        EXPECT_EQ(ObjectRegistry::HoldCount(), 1);
        EXPECT_NE(ObjectRegistry::Current(), nullptr);
    }
    EXPECT_EQ(ObjectRegistry::HoldCount(), 0);
    EXPECT_EQ(ObjectRegistry::Current(), nullptr);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(QvCreateObject(L"Test.Widget", IQvBaseInterface::kId, &out), qv::kResultNotFound);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ObjectRegistry::Current(), nullptr) << "the call's own registry went away with it";
}

TEST_F(ObjectRegistryTest, NamesMatchExactly) {
    ExportedObjectDeclaration<Widget> declaration(L"Test.Widget");
    for (const wchar_t* name : {L"test.widget", L"Test.Widget ", L"Test.Widge", L""}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(QvCreateObject(name, IQvBaseInterface::kId, &out), qv::kResultNotFound) << name;
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(widgetsAlive, 0);

    void* out = nullptr;
    ASSERT_EQ(QvCreateObject(L"Test.Widget", IQvBaseInterface::kId, &out), qv::kResultSuccess);
    EXPECT_EQ(widgetsAlive, 1);
    QvDestroyObject(L"Test.Widget", out);
    EXPECT_EQ(widgetsAlive, 0);
}

TEST_F(ObjectRegistryTest, UnansweredIdentityDestroysTheNewObject) {
    ExportedObjectDeclaration<Widget> declaration(L"Test.Widget");
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(QvCreateObject(L"Test.Widget", kUnknownId, &out), qv::kResultNotFound);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(widgetsAlive, 0);

    ASSERT_EQ(QvCreateObject(L"Test.Widget", kWidgetId, &out), qv::kResultSuccess);
    QvDestroyObject(L"Test.Widget", out);
}

TEST_F(ObjectRegistryTest, DestroyLeavesNullUnknownNamesAndForeignObjectsAlone) {
    ExportedObjectDeclaration<Widget> widgets(L"Test.Widget");
    ExportedObjectDeclaration<Gadget> gadgets(L"Test.Gadget");
    void* widget = nullptr;
    ASSERT_EQ(QvCreateObject(L"Test.Widget", IQvBaseInterface::kId, &widget), qv::kResultSuccess);

    QvDestroyObject(L"Test.Widget", nullptr);
    QvDestroyObject(L"Test.Unknown", widget);
    QvDestroyObject(L"Test.Gadget", widget);
    EXPECT_EQ(widgetsAlive, 1);

    QvDestroyObject(L"Test.Widget", widget);
    EXPECT_EQ(widgetsAlive, 0);
}

TEST_F(ObjectRegistryTest, FirstRegistrationOfANameWins) {
    auto first = std::make_unique<ExportedObjectDeclaration<Widget>>(L"Test.Same");
    auto second = std::make_unique<ExportedObjectDeclaration<Gadget>>(L"Test.Same");

    void* out = nullptr;
    ASSERT_EQ(QvCreateObject(L"Test.Same", kWidgetId, &out), qv::kResultSuccess);
    EXPECT_EQ(widgetsAlive, 1);
    QvDestroyObject(L"Test.Same", out);

    // Unregistering removes the name, whichever declaration it named.
    first.reset();
    EXPECT_EQ(QvCreateObject(L"Test.Same", IQvBaseInterface::kId, &out), qv::kResultNotFound);
    second.reset();
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
    auto created = std::async(std::launch::async, [] {
        void* widget = nullptr;
        const auto result = QvCreateObject(L"Test.Widget", IQvBaseInterface::kId, &widget);
        QvDestroyObject(L"Test.Widget", widget);
        return result;
    });
    ASSERT_EQ(created.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(created.get(), qv::kResultSuccess);
}

TEST_F(ObjectRegistryTest, ConcurrentCreateAndDestroyAreSerialised) {
    ExportedObjectDeclaration<Widget> declaration(L"Test.Widget");
    constexpr int kThreads = 4;
    constexpr int kCycles = 300;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCycles; ++i) {
                void* out = nullptr;
                if (QvCreateObject(L"Test.Widget", kWidgetId, &out) != qv::kResultSuccess) {
                    ++failures;
                    continue;
                }
                QvDestroyObject(L"Test.Widget", out);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_FALSE(overlapSeen);
    EXPECT_EQ(widgetsAlive, 0);
    EXPECT_EQ(ObjectRegistry::HoldCount(), 1);
}

TEST_F(ObjectRegistryTest, RegistryComesAndGoesUnderConcurrentHolds) {
    std::atomic<bool> done{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&] {
            while (!done) {
                void* out = nullptr;
                if (QvCreateObject(L"Test.Gadget", IQvBaseInterface::kId, &out) == 0) {
                    QvDestroyObject(L"Test.Gadget", out);
                }
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        ExportedObjectDeclaration<Gadget> declaration(L"Test.Gadget");
    }
    done = true;
    for (auto& caller : callers) {
        caller.join();
    }
}

}  // namespace
