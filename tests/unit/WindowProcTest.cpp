#include <new>
#include <tuple>

#include "logging/LogApi.h"
#include "tests/support/ServiceFixture.h"

namespace {

using devicescan::logging::LOG_ERROR;
using devicescan::logging::LOG_INFO;
using devicescan::service::DeviceScanSP;
using Events = std::vector<std::wstring>;

constexpr wchar_t kWindowProc[] = L"DeviceScanSP::WindowProc";

// Device-change messages sent to the running service's real window: each is handled completely
// on the window thread before SendMessageW returns.
using WindowProcTest = test_support::RunningServiceFixture;

TEST_F(WindowProcTest, OnlyTheLowestDriveOfTheMaskIsHandled) {
    // Bits above Z are never looked at; of C: and E: (unplugged by then) only C: is, and skipped.
    for (DWORD mask : {0x00000010u, 0x00000018u, 0x02000000u, 0x82400020u}) {
        EXPECT_EQ(QvSendVolumeChange(window, DBT_DEVICEARRIVAL, mask), 1);
    }
    EXPECT_EQ(QvSendVolumeChange(window, DBT_DEVICEREMOVECOMPLETE, 0x00000010), 1);
    EXPECT_EQ(QvSendVolumeChange(window, DBT_DEVICEARRIVAL, 0x00000014), 1);
    EXPECT_TRUE(Logged(kWindowProc, LOG_INFO, L"Extracted device \"F:\\\" from mask 0x82400020"));
    EXPECT_EQ(listener.Events(), (Events{L"mounted E:\\", L"mounted D:\\", L"mounted Z:\\",
                                         L"mounted F:\\", L"unmounted E:\\"}));
    // Arrivals alone run with critical errors failing silently: the mode is set around each.
    EXPECT_TRUE(listener.heard.front().errorMode & SEM_FAILCRITICALERRORS);
    EXPECT_FALSE(listener.heard.back().errorMode & SEM_FAILCRITICALERRORS);

    const std::tuple<WPARAM, DWORD, const wchar_t*> withoutDrive[] = {
        {DBT_DEVICEARRIVAL, 0, L"[action = Mount] [mask = 0]"},
        {DBT_DEVICEARRIVAL, 0x04000000, L"[action = Mount] [mask = 67108864]"},
        {DBT_DEVICEREMOVECOMPLETE, 0x80000000, L"[action = UnMount] [mask = -2147483648]"}};
    for (const auto& [change, mask, line] : withoutDrive) {
        EXPECT_EQ(QvSendVolumeChange(window, change, mask), 1);
        EXPECT_TRUE(
            Logged(kWindowProc, LOG_ERROR, L"cannot retrive drive path " + std::wstring(line)));
    }
    EXPECT_EQ(listener.heard.size(), 5u);
}

TEST_F(WindowProcTest, OtherNotificationsHeadersAndWindowsWithoutTheObjectAreOnlyLogged) {
    const std::pair<WPARAM, const wchar_t*> cases[] = {
        {DBT_DEVICEQUERYREMOVE, L"receive DEVICE_QUERY_REMOVE"},
        {DBT_DEVICEQUERYREMOVEFAILED, L"receive DEVICE_QUERY_REMOVE_FAILED"},
        {DBT_DEVICEREMOVEPENDING, L"receive DEVICE_REMOVE_PENDING"},
        {DBT_CONFIGCHANGED, L"receive DEVICE_CONFIG_CHANGED"},
        {DBT_DEVICETYPESPECIFIC, L"receive DEVICE_TYPE_SPECIFIC"},
        {DBT_DEVNODES_CHANGED, L"receive DEVICE_OTHER_MSG [value = 7]"}};
    for (const auto& [change, line] : cases) {
        EXPECT_EQ(QvSendVolumeChange(window, change, 0x00000010), 1) << line;
        EXPECT_TRUE(Logged(kWindowProc, LOG_INFO, line)) << line;
    }
    DEV_BROADCAST_VOLUME port{sizeof(port), DBT_DEVTYP_PORT, 0, 0x10, 0};
    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, LPARAM(&port)), 1);
    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 1);

    // A window of the same class whose user data was never set, as during CreateWindowExW, gets
    // default processing only.
    const HWND bare = CreateWindowExW(0, DeviceScanSP::kWindowClassName, L"bare", 0, 0, 0, 0, 0,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(QvSendVolumeChange(bare, DBT_DEVICEARRIVAL, 0x10),
              DefWindowProcW(bare, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0));
    DestroyWindow(bare);
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "no quit message without an object";
    EXPECT_EQ(Lines().size(), std::size(cases) + 2) << "one line each, no handler called";
    EXPECT_TRUE(listener.heard.empty());
}

// A listener that throws must not unwind into the system's dispatch, nor leave the listener list
// locked: the message is answered, the failure logged, and the list can change again.
TEST_F(WindowProcTest, ListenerThatThrowsIsLoggedAndLeavesTheListenersUsable) {
    test_support::Recorder throwing;
    throwing.onMount = [] { throw std::bad_alloc(); };
    ASSERT_EQ(service->Register(&throwing), 0u);
    EXPECT_EQ(QvSendVolumeChange(window, DBT_DEVICEARRIVAL, 0x10), 1);
    EXPECT_TRUE(Logged(kWindowProc, LOG_ERROR, L"device handler failed [path = E:\\]"));
    EXPECT_TRUE(test_support::FinishesWithin(test_support::kStuckMs, [&] {
        EXPECT_EQ(service->Unregister(&throwing), 0u);
    })) << "the throw left the listener list locked";
    EXPECT_EQ(QvSendVolumeChange(window, DBT_DEVICEREMOVECOMPLETE, 0x10), 1);
    EXPECT_EQ(listener.Events(), (Events{L"mounted E:\\", L"unmounted E:\\"}));
}

}  // namespace
