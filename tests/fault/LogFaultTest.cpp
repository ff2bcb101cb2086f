// The service with a log.dll that fails in one way or another beside it (see CMakeLists.txt:
// one folder per fault, the same tests in each). Whatever the logger does, the service starts,
// announces every arrival and removal in order, and stops.
#include "sdk/ProcessCounters.h"
#include "tests/support/ServiceFixture.h"

namespace {

// Each folder's program names its tests after its fault (FAULT_SUITE, e.g. LogMissing).
class FAULT_SUITE : public test_support::ServiceFixture {};

TEST_F(FAULT_SUITE, LifeCyclesKeepWorkingLoseNoEventAndLeakNoHandles) {
    // Guards against a folder that quietly lost its fault.
    ASSERT_EQ(GetModuleHandleW(L"log.dll") != nullptr, FAULT_LOG_PRESENT != 0);
    long handles = 0;
    std::vector<std::wstring> expected;
    // Without a logger every trace line looks for the library again, which is slow on a loaded
    // machine; the limit only has to catch a hang.
    ASSERT_TRUE(test_support::FinishesWithin(test_support::kStuckMs * 9, [&] {
        // The first cycle sets up what stays for the process; a handle lost per cycle after it
        // shows as more than the noise.
        for (int cycle = 0; cycle < 12; ++cycle) {
            handles = cycle == 1 ? QvProcessHandleCount() : handles;
            const HWND window = StartService();
            ASSERT_NE(window, nullptr);
            for (const wchar_t letter : {L'E', L'F', L'Z', L'E', L'F', L'Z'}) {
                QvSendVolumeChange(window, DBT_DEVICEARRIVAL, 1u << (letter - L'A'));
                QvSendVolumeChange(window, DBT_DEVICEREMOVECOMPLETE, 1u << (letter - L'A'));
                expected.push_back(L"mounted " + std::wstring(1, letter) + L":\\");
                expected.push_back(L"unmounted " + std::wstring(1, letter) + L":\\");
            }
            service->Stop();
            service->UnInit();
        }
    }));
    EXPECT_EQ(listener.Events(), expected);
    EXPECT_EQ(host.producer.Events(), expected);
    // Wine itself opens or closes a few handles in a process now and then, most when other
    // programs share the wineserver; a leak of one handle per cycle shows as hundreds.
    EXPECT_LE(QvProcessHandleCount(), handles + 4);
}

}  // namespace
