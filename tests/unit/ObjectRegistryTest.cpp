#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "module/ExportedObjectDeclaration.h"
#include "module/Exports.h"
#include "module/ObjectRegistry.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/ResultCodes.h"
#include "tests/support/TestThreads.h"

namespace {

using devicescan::module::ExportedObjectDeclaration;
using devicescan::module::SharedRegistry;
using qv::InterfaceId;
using qv::IQvBaseInterface;
using qv::rnsdk::FileScan::IDeviceScanSP;

constexpr InterfaceId kWidgetId{0x1111222233334444ull, 0x5555666677778888ull};

std::atomic<int> widgetsAlive{0};

class Widget final : public IQvBaseInterface {
  public:
    Widget() { ++widgetsAlive; }
    ~Widget() { --widgetsAlive; }
    void* QueryInterface(InterfaceId id) override {
        return id == IQvBaseInterface::kId || id == kWidgetId ? this : nullptr;
    }
    void* DeletingDestructor(unsigned int flags) { return qv::RunDeletingDestructor(this, flags); }
};

class Unbuildable final : public IQvBaseInterface {
  public:
    Unbuildable() { throw std::bad_alloc(); }
    void* QueryInterface(InterfaceId) override { return nullptr; }
    void* DeletingDestructor(unsigned int flags) { return qv::RunDeletingDestructor(this, flags); }
};

// Every case leaves no registry and no hold behind it.
class ObjectRegistryTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(SharedRegistry::HoldCount(), 0);
        EXPECT_EQ(SharedRegistry::Current(), nullptr);
    }
};

// The registry exists while a declaration holds it (the fixture checks that it is gone after).
// Neither an unknown identity, nor a name that is not exactly the registered one, nor a
// construction that throws gets an object, and none keeps the registry's lock or a hold.
TEST_F(ObjectRegistryTest, FirstRegistrationWinsByExactNameAndFailedCreationsLeaveNothingBehind) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(QvCreateObject(L"Test.Same", IQvBaseInterface::kId, &out), qv::kResultNotFound);
    EXPECT_EQ(out, nullptr) << "without any registry";
    auto first = std::make_unique<ExportedObjectDeclaration<Widget>>(L"Test.Same");
    ExportedObjectDeclaration<Unbuildable> second(L"Test.Same");
    ExportedObjectDeclaration<Unbuildable> unbuildable(L"Test.Unbuildable");
    const std::pair<const wchar_t*, InterfaceId> refused[] = {
        {L"Test.Same", {1, 2}},     {L"test.same", kWidgetId},
        {L"Test.Same ", kWidgetId}, {L"Test.Sam", kWidgetId},
        {L"", kWidgetId},           {L"Test.Unbuildable", IQvBaseInterface::kId}};
    for (const auto& [name, id] : refused) {
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(QvCreateObject(name, id, &out), qv::kResultNotFound) << name;
        EXPECT_EQ(out, nullptr) << name;
    }
    EXPECT_EQ(widgetsAlive, 0) << "the object that did not answer was not destroyed";
    EXPECT_EQ(SharedRegistry::HoldCount(), 3);

    // The registry lock is re-entrant for this thread, so create from another one.
    test_support::Actor other;
    std::uint32_t result = 1;
    ASSERT_TRUE(other.Do([&] { result = QvCreateObject(L"Test.Same", kWidgetId, &out); }))
        << "the failed construction kept the registry lock";
    ASSERT_EQ(result, qv::kResultSuccess);
    QvDestroyObject(L"Test.Unbuildable", out);
    QvDestroyObject(L"Test.Same", nullptr);
    EXPECT_EQ(widgetsAlive, 1);
    QvDestroyObject(L"Test.Same", out);
    EXPECT_EQ(widgetsAlive, 0);

    // Unregistering removes the name, whichever declaration it named.
    first.reset();
    EXPECT_EQ(QvCreateObject(L"Test.Same", IQvBaseInterface::kId, &out), qv::kResultNotFound);
}

// Every byte of an identity takes part in equality. (The values are pinned by the plain-C host,
// which asks for each identity by its number.)
TEST(InterfaceIdentity, EveryByteCountsInEquality) {
    const InterfaceId id = IDeviceScanSP::kId;
    for (std::size_t byte = 0; byte < sizeof(InterfaceId); ++byte) {
        InterfaceId changed = id;
        reinterpret_cast<unsigned char*>(&changed)[byte] ^= 0x01;
        EXPECT_FALSE(changed == id) << "byte " << byte;
    }
}

// Bit 0 of the flags alone decides the free: without it the object is only destroyed (here in
// memory that no heap owns, which a free would corrupt); either way the answer is its address.
TEST_F(ObjectRegistryTest, DeletingDestructorFreesOnlyWhenBitZeroIsSet) {
    alignas(Widget) unsigned char place[sizeof(Widget)];
    EXPECT_EQ((new (place) Widget())->DeletingDestructor(qv::kDestroyOnly | 2u), place);
    EXPECT_EQ(widgetsAlive, 0);

    Widget* onHeap = new Widget();
    const auto address = reinterpret_cast<std::uintptr_t>(onHeap);  // not read after the free
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(onHeap->DeletingDestructor(qv::kDestroyAndFree)),
              address);
    EXPECT_EQ(widgetsAlive, 0);
}

// The registry is built and torn down again and again while three other threads create and
// destroy through it: no crash, no stuck lock, no hold left behind.
TEST_F(ObjectRegistryTest, RegistryComesAndGoesUnderConcurrentCallers) {
    std::atomic<bool> done{false};
    test_support::RunThreadsTogether(4, [&](int index) {
        if (index == 0) {
            for (int i = 0; i < 200; ++i) {
                ExportedObjectDeclaration<Widget> declaration(L"Test.Widget");
            }
            done = true;
            return;
        }
        while (!done) {
            void* out = nullptr;
            if (QvCreateObject(L"Test.Widget", IQvBaseInterface::kId, &out) == 0) {
                QvDestroyObject(L"Test.Widget", out);
            }
        }
    });
}

}  // namespace
