// The service with a log.dll that fails in one way or another beside it (see CMakeLists.txt:
// one folder per fault, the same tests in each). Whatever the logger does, the service starts,
// announces every arrival and removal to every listener in order, and stops.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DeviceScanSP.h"
#include "fakes/FakeHost.h"
#include "fakes/FakePlatform.h"
#include "support/Announcements.h"
#include "support/Bounded.h"
#include "support/HandleCount.h"
#include "support/ServiceWindow.h"

namespace {

using support::FinishesWithin;

constexpr int kPairs = 20;
constexpr wchar_t kLetters[] = L"EFGZ";

class LogFaultFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::FakePlatform::Get().Reset();
        for (const wchar_t* letter = kLetters; *letter != L'\0'; ++letter) {
            fakes::FakePlatform::Get().Drive(*letter);
        }
        host.manager = &manager;
        for (auto& listener : listeners) {
            listener = std::make_unique<fakes::RecordingListener>();
        }
    }
    void TearDown() override { service->UnInit(); }

    // Init, Start and the listeners registered; the service window, or null.
    HWND StartService() {
        EXPECT_EQ(service->Init(&host), 0u);
        EXPECT_EQ(service->Start(), 0u);
        for (auto& listener : listeners) {
            EXPECT_EQ(service->Register(listener.get()), 0u);
        }
        return support::FindOwnServiceWindow();
    }

    void StopService() {
        for (auto& listener : listeners) {
            EXPECT_EQ(service->Unregister(listener.get()), 0u);
        }
        service->Stop();
        service->UnInit();
    }

    static void SendVolume(HWND window, WPARAM change, wchar_t letter) {
        DEV_BROADCAST_VOLUME volume{sizeof(volume), DBT_DEVTYP_VOLUME, 0, 1u << (letter - L'A'), 0};
        SendMessageW(window, WM_DEVICECHANGE, change, reinterpret_cast<LPARAM>(&volume));
    }

    // Arrival and removal of each drive in turn, kPairs times; the events every listener must
    // hear, in order.
    static std::vector<std::wstring> PlugAndUnplug(HWND window) {
        std::vector<std::wstring> expected;
        for (int i = 0; i < kPairs; ++i) {
            const wchar_t letter = kLetters[i % (std::size(kLetters) - 1)];
            const std::wstring path = std::wstring(1, letter) + L":\\";
            SendVolume(window, DBT_DEVICEARRIVAL, letter);
            SendVolume(window, DBT_DEVICEREMOVECOMPLETE, letter);
            expected.push_back(L"mounted " + path);
            expected.push_back(L"unmounted " + path);
        }
        return expected;
    }

    void ExpectEveryoneHeard(const std::vector<std::wstring>& expected) const {
        for (const auto& listener : listeners) {
            EXPECT_EQ(support::EventsOf(listener->log), expected);
        }
        EXPECT_EQ(support::EventsOf(manager.producer.log), expected);
    }

    fakes::FakeComponentManager manager;
    fakes::FakeServiceHost host;
    std::unique_ptr<fakes::RecordingListener> listeners[3];
    std::unique_ptr<DeviceScanSP> service = std::make_unique<DeviceScanSP>();
};

// Each folder's program names its tests after its fault (FAULT_SUITE, e.g. LogMissing).
class FAULT_SUITE : public LogFaultFixture {};

// Guards against a test folder that quietly lost its fault: the library beside the program is
// loaded (or not) as the folder intends.
TEST_F(FAULT_SUITE, LoggerIsPresentOnlyWhereThisFolderHasOne) {
    ASSERT_EQ(service->Init(&host), 0u);
    EXPECT_EQ(GetModuleHandleW(L"log.dll") != nullptr, FAULT_LOG_PRESENT != 0);
}

TEST_F(FAULT_SUITE, EveryArrivalAndRemovalReachesEveryListener) {
    const HWND window = StartService();
    ASSERT_NE(window, nullptr);
    std::vector<std::wstring> expected;
    ASSERT_TRUE(FinishesWithin(support::kPatience, [&] { expected = PlugAndUnplug(window); }));
    StopService();
    ExpectEveryoneHeard(expected);
}

TEST_F(FAULT_SUITE, RepeatedLifeCyclesKeepWorkingAndLeakNoHandles) {
    long handles = 0;
    std::vector<std::wstring> expected;
    // Without a logger every trace line looks for the library again, which is slow on a loaded
    // machine; the limit only has to catch a hang.
    ASSERT_TRUE(FinishesWithin(support::kPatience * 9, [&] {
        for (int cycle = 0; cycle < 4; ++cycle) {
            // The first cycle loads the logger, if any, and sets up what stays for the process.
            if (cycle == 1) {
                handles = support::ProcessHandleCount();
            }
            const HWND window = StartService();
            ASSERT_NE(window, nullptr);
            const auto heard = PlugAndUnplug(window);
            expected.insert(expected.end(), heard.begin(), heard.end());
            StopService();
        }
    }));
    ExpectEveryoneHeard(expected);
    EXPECT_LE(support::ProcessHandleCount(), handles + support::kHandleNoise);
}

}  // namespace
