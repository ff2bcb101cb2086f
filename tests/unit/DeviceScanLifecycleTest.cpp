#include <windows.h>

#include <functional>

#include "logging/LogApi.h"
#include "sdk/ResultCodes.h"
#include "sdk/UniqueHandle.h"
#include "tests/support/ServiceFixture.h"

namespace {

using devicescan::logging::LOG_ERROR;
using devicescan::logging::LOG_WARNING;
using devicescan::service::DeviceHandlerTestAccess;
using devicescan::service::DeviceScanSP;
using test_support::FinishesWithin;
using test_support::kStuckMs;
using LifecycleTest = test_support::ServiceFixture;

TEST_F(LifecycleTest, CallsOutOfOrderOrWithoutAProducerAreRefused) {
    EXPECT_EQ(service->Start(), qv::kResultNotInitialized);
    EXPECT_TRUE(Logged(L"DeviceScanSP::Start", LOG_ERROR, L"not initialized"));
    test_support::FakeHost withoutManager, refusing;
    withoutManager.hasManager = false;
    refusing.refusal = ERROR_MOD_NOT_FOUND;
    qv::IServiceHost* const badHosts[] = {nullptr, &withoutManager, &refusing};
    for (qv::IServiceHost* badHost : badHosts) {
        EXPECT_EQ(service->Init(badHost), qv::kResultDependencyMissing);
        EXPECT_EQ(service->Start(), qv::kResultNotInitialized) << "no event or thread is left";
    }
    EXPECT_EQ(Logged(L"DeviceScanSP::Init", LOG_ERROR, L"cannot get producer plugin"), 3);
    const wchar_t getPlugin[] =
        L"ServPlugin<struct qv::rnsdk::FileScan::IDeviceScanEventProducer>::GetPlugin";
    EXPECT_EQ(Logged(getPlugin, LOG_ERROR, L"Null component manager"), 2);
    EXPECT_TRUE(Logged(getPlugin, LOG_WARNING,
                       L"Error 126 getting plugin \"FileScan.OnDemand.DeviceScanAL\""));
    EXPECT_EQ(refusing.acquired.size(), 1u);
    EXPECT_TRUE(refusing.released.empty());
    EXPECT_EQ(service->Register(nullptr), qv::kResultInvalidParameter);
    EXPECT_EQ(service->Register(&listener), qv::kResultFunctionFailed);
}

// Cancels every window creation on its thread, as a system short of resources would.
LRESULT CALLBACK RefuseWindows(int code, WPARAM wParam, LPARAM lParam) {
    return code == HCBT_CREATEWND ? 1 : CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(LifecycleTest, WindowThatCannotBeSetUpFailsStartWithItsCodeUntilTheCauseIsGone) {
    WNDCLASSW taken{};
    taken.lpfnWndProc = DefWindowProcW;
    taken.hInstance = GetModuleHandleW(nullptr);
    taken.lpszClassName = DeviceScanSP::kWindowClassName;
    ASSERT_NE(RegisterClassW(&taken), 0);
    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_EQ(service->Start(), static_cast<std::uint32_t>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_TRUE(Logged(L"DeviceScanSP::InitWindowInstance", LOG_ERROR,
                       L"cannot register invisible window [error = 1410]"));
    ASSERT_TRUE(FinishesWithin(kStuckMs, [&] { service->UnInit(); }));
    // Written after the thread has signalled Start, so looked for once the thread has ended.
    EXPECT_TRUE(Logged(L"DeviceScanSP::WindowThreadRoutine", LOG_ERROR,
                       L"init instance failed [error = 1410]"));
    UnregisterClassW(DeviceScanSP::kWindowClassName, GetModuleHandleW(nullptr));

    // The window itself refused, by a hook on the window thread alone (Init made it, suspended):
    // a hook for every thread would reach other test processes on the same desktop.
    ASSERT_EQ(service->Init(&host), 0u);
    const HHOOK hook = SetWindowsHookExW(WH_CBT, &RefuseWindows, nullptr,
                                         DeviceHandlerTestAccess::WindowThreadId(*service));
    ASSERT_NE(hook, nullptr);
    const std::uint32_t failed = service->Start();
    UnhookWindowsHookEx(hook);
    ASSERT_NE(failed, 0u);
    EXPECT_TRUE(
        Logged(L"DeviceScanSP::InitWindowInstance", LOG_ERROR,
               L"cannot create invisible window [error = " + std::to_wstring(failed) + L"]"));
    ASSERT_TRUE(FinishesWithin(kStuckMs, [&] { service->UnInit(); }));
    EXPECT_NE(StartService(), nullptr) << "the class was unregistered after the failure";
}

// A full cycle brings up a hidden window on a thread of its own and takes it down in order. (A
// service destroyed by the host without UnInit is the module teardown tests' case: the shipped
// module, whose thread must also keep it loaded until the end.)
TEST_F(LifecycleTest, EachThreadIsStartedOnceAndStoppedInOrder) {
    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_EQ(service->Init(&host), static_cast<std::uint32_t>(ERROR_ALREADY_INITIALIZED));
    EXPECT_EQ(host.acquired.size(), 1u);
    ASSERT_TRUE(FinishesWithin(kStuckMs, [&] { service->UnInit(); })) << "a thread never started";
    EXPECT_EQ(host.released.size(), 1u);

    const HWND window = StartService();
    ASSERT_NE(window, nullptr) << "UnInit and Init give a fresh thread";
    EXPECT_FALSE(IsWindowVisible(window));
    const DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    EXPECT_NE(windowThread, GetCurrentThreadId());
    std::uint32_t again = 0;
    ASSERT_TRUE(FinishesWithin(kStuckMs, [&] { again = service->Start(); }));
    EXPECT_EQ(again, static_cast<std::uint32_t>(ERROR_INVALID_STATE));
    EXPECT_NE(QvFindOwnServiceWindow(), nullptr);
    service->Stop();
    ASSERT_TRUE(FinishesWithin(kStuckMs, [&] { again = service->Start(); }));
    EXPECT_EQ(again, static_cast<std::uint32_t>(ERROR_INVALID_STATE));
    ASSERT_TRUE(FinishesWithin(kStuckMs, [&] { service->UnInit(); }));
    EXPECT_EQ(QvFindOwnServiceWindow(), nullptr);
    EXPECT_EQ(host.released.size(), 2u);
    const std::wstring stopLines[] = {
        L"request stop window thread [id = " + std::to_wstring(windowThread) + L"]",
        L"window thread retrieves the WM_QUIT message", L"-> DeviceScanSP::UninitWindowInstance()",
        L"window is destorying ...", L"the window is destroyed"};
    const auto lines = Lines();
    auto at = lines.begin();
    for (const std::wstring& text : stopLines) {
        at = std::find_if(at, lines.end(), [&](const auto& line) { return line.ends_with(text); });
        EXPECT_NE(at, lines.end()) << "not in order: " << text;
    }
}

// A listener that calls UnInit ends the loop without waiting, and the host's UnInit then
// finishes; one that destroys the service (on another drive: the table keeps E: over UnInit)
// gets its notification back, the fan-out finishes, and the thread frees the object and gives
// the producer back as it ends.
TEST_F(LifecycleTest, NotificationsThatStopOrDestroyTheServiceNeverWaitForTheirOwnThread) {
    const std::function<void()> acts[] = {[&] { service->UnInit(); }, [&] { service.reset(); }};
    for (DWORD drive = 0; drive < std::size(acts); ++drive) {
        test_support::Recorder acting;
        acting.onMount = acts[drive];
        ASSERT_EQ(service->Register(&acting), 0u);
        const HWND window = StartService();
        ASSERT_NE(window, nullptr);
        const qv::UniqueHandle thread(
            OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(window, nullptr)));
        ASSERT_TRUE(FinishesWithin(
            kStuckMs, [&] { QvSendVolumeChange(window, DBT_DEVICEARRIVAL, 0x10u << drive); }));
        EXPECT_EQ(WaitForSingleObject(thread.Get(), kStuckMs), WAIT_OBJECT_0);
        if (service != nullptr) {
            EXPECT_TRUE(host.released.empty()) << "the producer stays until UnInit from the host";
            ASSERT_TRUE(FinishesWithin(kStuckMs, [&] { service->UnInit(); }));
            EXPECT_EQ(host.released.size(), 1u);
            service->Unregister(&acting);
        }
    }
    EXPECT_EQ(listener.Events(), (std::vector<std::wstring>{L"mounted E:\\", L"mounted F:\\"}))
        << "every listener heard each mount, the destroyed service's too";
    EXPECT_EQ(host.released.size(), 2u);
    EXPECT_EQ(QvFindOwnServiceWindow(), nullptr);
}

}  // namespace
