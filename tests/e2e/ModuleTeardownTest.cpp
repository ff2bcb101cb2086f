// The shipped devicescan.dll destroyed from every thread that may do it: from a listener on the
// service's own window thread, and from the host's thread without UnInit. No call may hang, and
// the module stays loaded while a thread of it still runs. (UnInit from a listener is the same
// code in the module as in the service's unit tests, which cover it.)
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <utility>

#include "sdk/IServPlugin.h"
#include "sdk/ProcAddress.h"
#include "sdk/ProgramDirectory.h"
#include "sdk/ServiceWindow.h"
#include "sdk/UniqueHandle.h"
#include "tests/support/FakeHost.h"
#include "tests/support/TestThreads.h"

namespace {

using CreateFn = std::uint32_t (*)(const wchar_t*, qv::InterfaceId, void**);
using DestroyFn = void (*)(const wchar_t*, void*);
using qv::rnsdk::FileScan::IDeviceScanSP;
using test_support::kStuckMs;

constexpr wchar_t kServiceName[] = L"FileScan.OnDemand.DeviceScanSP";

class ModuleTeardown : public ::testing::Test {
  protected:
    void SetUp() override {
        // Z: is the Unix root under Wine: a drive the service announces when told of it.
        if (GetDriveTypeW(L"Z:\\") != DRIVE_FIXED) {
            GTEST_SKIP() << "no Z: drive to announce";
        }
        module = LoadLibraryW((qv::ProgramDirectory() + L"..\\bin\\devicescan.dll").c_str());
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        create = qv::GetProcAddressAs<CreateFn>(module, "QvCreateObject");
        destroy = qv::GetProcAddressAs<DestroyFn>(module, "QvDestroyObject");
        void* object = nullptr;
        ASSERT_EQ(create(kServiceName, qv::IServPlugin::kId, &object), 0u);
        plugin = static_cast<qv::IServPlugin*>(object);
        auto* scan = static_cast<IDeviceScanSP*>(plugin->QueryInterface(IDeviceScanSP::kId));
        ASSERT_EQ(scan->Register(&listener), 0u);
        ASSERT_EQ(plugin->Init(&host), 0u);
        ASSERT_EQ(plugin->Start(), 0u);
        window = QvFindOwnServiceWindow();
        ASSERT_NE(window, nullptr);
        windowThread.Reset(
            OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(window, nullptr)));
    }
    void TearDown() override { FreeLibrary(module); }  // none when a test has freed it

    // Tells the service that Z: arrived; the listener's onMount runs inside, on the window thread.
    void AnnounceZ() { QvSendVolumeChange(window, DBT_DEVICEARRIVAL, 1u << 25); }

    // After a destruction the host lets go of the module at once; the window thread still holds
    // it until it has finished.
    void ExpectThreadEndsThenModuleUnloads() {
        FreeLibrary(std::exchange(module, nullptr));
        EXPECT_EQ(WaitForSingleObject(windowThread.Get(), kStuckMs), WAIT_OBJECT_0);
        EXPECT_EQ(host.released.size(), 1u) << "the producer was given back";
        EXPECT_EQ(QvFindOwnServiceWindow(), nullptr);
        EXPECT_EQ(GetModuleHandleW(L"devicescan.dll"), nullptr)
            << "unloaded after the thread ended";
    }

    HMODULE module = nullptr;
    CreateFn create = nullptr;
    DestroyFn destroy = nullptr;
    test_support::FakeHost host;
    test_support::Recorder listener;
    qv::IServPlugin* plugin = nullptr;  // what QvCreateObject gave, and QvDestroyObject takes
    HWND window = nullptr;
    qv::UniqueHandle windowThread;
};

TEST_F(ModuleTeardown, DestroyedFromItsOwnListenerTheThreadFinishesAndOnlyThenTheModuleGoes) {
    listener.onMount = [&] { destroy(kServiceName, plugin); };
    ASSERT_TRUE(test_support::FinishesWithin(kStuckMs, [&] { AnnounceZ(); }))
        << "the destroying listener hung the window thread";
    ExpectThreadEndsThenModuleUnloads();
}

// Destroyed by the host without UnInit, the service returns at once and its thread finishes the
// destruction; it never waits for the thread under the registry's lock, which a listener may be
// about to take: here one creates and destroys a second service from inside a mount.
TEST_F(ModuleTeardown, DestroyedWithoutUnInitWhileAListenerCallsTheExportsNothingWaits) {
    const qv::UniqueHandle inside(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::uint32_t created = 1;
    listener.onMount = [&] {
        SetEvent(inside.Get());
        Sleep(200);  // the host's destruction is under way by now
        void* second = nullptr;
        created = create(kServiceName, qv::IServPlugin::kId, &second);
        destroy(kServiceName, second);  // nothing when the creation failed
    };
    test_support::Actor announcer;
    announcer.Start([&] { AnnounceZ(); });
    ASSERT_EQ(WaitForSingleObject(inside.Get(), kStuckMs), WAIT_OBJECT_0);
    ASSERT_TRUE(test_support::FinishesWithin(kStuckMs, [&] { destroy(kServiceName, plugin); }))
        << "the destruction waited for the window thread";
    ASSERT_TRUE(announcer.Finished(kStuckMs)) << "the listener hung on the registry";
    EXPECT_EQ(created, 0u);
    ExpectThreadEndsThenModuleUnloads();
}

}  // namespace
