#include <windows.h>
#include <tlhelp32.h>

#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "IDeviceScanSP.h"
#include "ResultCodes.h"
#include "Severity.h"
#include "support/Bounded.h"
#include "support/HandleCount.h"
#include "support/ServiceFixture.h"

namespace {

using logging::LOG_ERROR;
using logging::LOG_INFO;
using qv::rnsdk::FileScan::IDeviceScanSP;
using support::FinishesWithin;
using support::kPatience;

HWND FindServiceWindow() {
    return support::FindOwnServiceWindow();
}

class LifecycleTest : public support::ServiceFixture {};

TEST_F(LifecycleTest, ViewsOfOneObject) {
    void* base = service->QueryInterface(qv::IQvBaseInterface::kId);
    void* plugin = service->QueryInterface(qv::IServPlugin::kId);
    void* deviceScan = service->QueryInterface(IDeviceScanSP::kId);
    EXPECT_EQ(base, static_cast<qv::IServPlugin*>(service.get()));
    EXPECT_EQ(base, plugin);
    EXPECT_EQ(deviceScan, static_cast<IDeviceScanSP*>(service.get()));
    EXPECT_NE(deviceScan, plugin);

    qv::InterfaceId almost = IDeviceScanSP::kId;
    almost.high ^= 0x0100000000000000ull;  // the last byte
    EXPECT_EQ(service->QueryInterface(almost), nullptr);
    EXPECT_EQ(service->QueryInterface({qv::IServPlugin::kId.low, 0}), nullptr);
}

TEST_F(LifecycleTest, InitWithoutAProducerFailsAndLeavesNothingBehind) {
    fakes::FakeServiceHost hostWithoutManager;
    fakes::FakeComponentManager refusing;
    refusing.refusal = ERROR_MOD_NOT_FOUND;
    fakes::FakeServiceHost hostThatRefuses;
    hostThatRefuses.manager = &refusing;

    for (qv::IServiceHost* badHost : {static_cast<qv::IServiceHost*>(nullptr),
                                      static_cast<qv::IServiceHost*>(&hostWithoutManager),
                                      static_cast<qv::IServiceHost*>(&hostThatRefuses)}) {
        recorder.Clear();
        EXPECT_EQ(service->Init(badHost), qv::kResultDependencyMissing);
        EXPECT_TRUE(HasMessage(L"DeviceScanSP::Init", LOG_ERROR, L"cannot get producer plugin"));
        EXPECT_EQ(service->Start(), qv::kResultNotInitialized) << "no event or thread is left";
    }
    EXPECT_EQ(refusing.acquired.size(), 1u);
    EXPECT_TRUE(refusing.released.empty());
}

TEST_F(LifecycleTest, InitLogsTheConsoleSession) {
    Machine().SetSessionId(0xFFFFFFFF);
    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_TRUE(HasMessage(L"DeviceScanSP::Init", LOG_ERROR, L"cannot get current sessionId"));
    EXPECT_TRUE(HasMessage(L"DeviceScanSP::Init", LOG_INFO, L"current session id = -1"));
}

TEST_F(LifecycleTest, StartBeforeInitIsRefused) {
    EXPECT_EQ(service->Start(), qv::kResultNotInitialized);
    EXPECT_TRUE(HasMessage(L"DeviceScanSP::Start", LOG_ERROR, L"not initialized"));
    EXPECT_EQ(FindServiceWindow(), nullptr);
}

TEST_F(LifecycleTest, FullCycleBringsUpAHiddenWindowOnItsOwnThreadAndTakesItDown) {
    ASSERT_EQ(service->Init(&host), 0u);
    ASSERT_EQ(service->Start(), 0u);
    const HWND window = FindServiceWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    const DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    EXPECT_NE(windowThread, GetCurrentThreadId());

    service->Stop();
    ASSERT_TRUE(FinishesWithin(kPatience, [&] { service->UnInit(); }));
    EXPECT_EQ(FindServiceWindow(), nullptr);
    ASSERT_EQ(manager.released.size(), 1u);
    EXPECT_EQ(manager.released[0], L"FileScan.OnDemand.DeviceScanAL");

    const int stopRequested =
        IndexOf(L"request stop window thread [id = " + std::to_wstring(windowThread) + L"]");
    const int quitRetrieved = IndexOf(L"window thread retrieves the WM_QUIT message");
    const int teardown = IndexOf(L"-> DeviceScanSP::UninitWindowInstance()");
    const int destroying = IndexOf(L"window is destorying ...");
    const int destroyed = IndexOf(L"the window is destroyed");
    EXPECT_GE(stopRequested, 0);
    EXPECT_LT(stopRequested, quitRetrieved);
    EXPECT_LT(quitRetrieved, teardown);
    EXPECT_LT(teardown, destroying);
    EXPECT_LT(destroying, destroyed);
}

TEST_F(LifecycleTest, ClassAlreadyRegisteredMakesStartFailWithTheRegistrationCode) {
    WNDCLASSEXW taken{};
    taken.cbSize = sizeof(taken);
    taken.lpfnWndProc = DefWindowProcW;
    taken.hInstance = GetModuleHandleW(nullptr);
    taken.lpszClassName = DeviceScanSP::kWindowClassName;
    ASSERT_NE(RegisterClassExW(&taken), 0);

    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_EQ(service->Start(), static_cast<std::uint32_t>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_TRUE(HasMessage(L"DeviceScanSP::InitWindowInstance", LOG_ERROR,
                           L"cannot register invisible window [error = 1410]"));
    EXPECT_TRUE(FinishesWithin(kPatience, [&] { service->UnInit(); }));
    // Written after the thread has signalled Start, so looked for once the thread has ended.
    EXPECT_TRUE(HasMessage(L"DeviceScanSP::WindowThreadRoutine", LOG_ERROR,
                           L"init instance failed [error = 1410]"));
    UnregisterClassW(DeviceScanSP::kWindowClassName, GetModuleHandleW(nullptr));
}

// Cancels the creation of the service's window, as a system short of resources would.
LRESULT CALLBACK RefuseServiceWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const auto* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        const wchar_t* name = create->lpcs->lpszName;
        if (name != nullptr && std::wstring(name) == DeviceScanSP::kWindowName) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The ids of this process's threads.
std::set<DWORD> OwnThreads() {
    std::set<DWORD> threads;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            threads.insert(entry.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
    return threads;
}

TEST_F(LifecycleTest, FailedWindowCreationLeavesNoClassBehind) {
    // The hook is set on the new window thread alone (found as the thread that Init added):
    // a hook for every thread would reach other test processes on the same desktop too.
    const std::set<DWORD> before = OwnThreads();
    ASSERT_EQ(service->Init(&host), 0u);
    std::vector<DWORD> added;
    for (DWORD thread : OwnThreads()) {
        if (before.count(thread) == 0) {
            added.push_back(thread);
        }
    }
    ASSERT_EQ(added.size(), 1u);
    const HHOOK hook = SetWindowsHookExW(WH_CBT, &RefuseServiceWindow, nullptr, added[0]);
    ASSERT_NE(hook, nullptr);
    const std::uint32_t failed = service->Start();
    UnhookWindowsHookEx(hook);
    ASSERT_NE(failed, 0u);
    EXPECT_TRUE(
        HasMessage(L"DeviceScanSP::InitWindowInstance", LOG_ERROR,
                   L"cannot create invisible window [error = " + std::to_wstring(failed) + L"]"));
    ASSERT_TRUE(FinishesWithin(kPatience, [&] { service->UnInit(); }));

    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_EQ(service->Start(), 0u) << "the class was unregistered after the failure";
}

TEST_F(LifecycleTest, UnInitEndsAThreadThatWasNeverStarted) {
    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_TRUE(FinishesWithin(kPatience, [&] { service->UnInit(); }));
    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_EQ(service->Start(), 0u);
}

TEST_F(LifecycleTest, SecondStartIsRefusedAtOnceAndTheServiceKeepsRunning) {
    ASSERT_EQ(service->Init(&host), 0u);
    ASSERT_EQ(service->Start(), 0u);
    std::uint32_t again = 0;
    ASSERT_TRUE(FinishesWithin(kPatience, [&] { again = service->Start(); }));
    EXPECT_EQ(again, static_cast<std::uint32_t>(ERROR_INVALID_STATE));
    EXPECT_NE(FindServiceWindow(), nullptr);

    service->Stop();
    ASSERT_TRUE(FinishesWithin(kPatience, [&] { again = service->Start(); }));
    EXPECT_EQ(again, static_cast<std::uint32_t>(ERROR_INVALID_STATE));
    ASSERT_TRUE(FinishesWithin(kPatience, [&] { service->UnInit(); }));
}

TEST_F(LifecycleTest, SecondInitIsRefusedWithoutTouchingTheFirst) {
    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_EQ(service->Init(&host), static_cast<std::uint32_t>(ERROR_ALREADY_INITIALIZED));
    EXPECT_EQ(manager.acquired.size(), 1u);
    EXPECT_EQ(service->Start(), 0u);
    EXPECT_NE(FindServiceWindow(), nullptr);
}

TEST_F(LifecycleTest, DestroyingARunningServiceStopsItsThreadFirst) {
    ASSERT_EQ(service->Init(&host), 0u);
    ASSERT_EQ(service->Start(), 0u);
    service->Unregister(&listener);
    ASSERT_TRUE(FinishesWithin(kPatience, [&] { service.reset(); }));
    EXPECT_EQ(FindServiceWindow(), nullptr);
    EXPECT_EQ(manager.released.size(), 1u);
}

TEST_F(LifecycleTest, StopWithoutAThreadDoesNothing) {
    recorder.Clear();
    service->Stop();
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_EQ(IndexOf(L"-> DeviceScanSP::Stop()"), 0);
}

TEST_F(LifecycleTest, RepeatedCyclesLeakNoHandle) {
    const auto cycle = [&] {
        ASSERT_EQ(service->Init(&host), 0u);
        ASSERT_EQ(service->Start(), 0u);
        service->Stop();
        service->UnInit();
    };
    cycle();
    const long afterFirst = support::ProcessHandleCount();
    ASSERT_GT(afterFirst, 0);
    for (int i = 0; i < 200; ++i) {
        cycle();
    }
    EXPECT_LE(support::ProcessHandleCount(), afterFirst + support::kHandleNoise);
}

TEST_F(LifecycleTest, RegisterAndUnregisterCheckTheirListener) {
    fakes::RecordingListener other;
    EXPECT_EQ(service->Register(nullptr), qv::kResultInvalidParameter);
    EXPECT_EQ(service->Unregister(nullptr), qv::kResultInvalidParameter);
    EXPECT_EQ(service->Register(&listener), qv::kResultFunctionFailed);
    EXPECT_EQ(service->Unregister(&other), qv::kResultFunctionFailed);
    EXPECT_EQ(service->Register(&other), qv::kResultSuccess);
    EXPECT_EQ(service->Unregister(&other), qv::kResultSuccess);
    EXPECT_GE(IndexOf(L"-> DeviceScanSP::Register()"), 0);
    EXPECT_GE(IndexOf(L"-> DeviceScanSP::Unregister()"), 0);
}

}  // namespace
