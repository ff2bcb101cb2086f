#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include "Severity.h"
#include "support/Announcements.h"
#include "support/ServiceFixture.h"

namespace {

using logging::LOG_ERROR;
using logging::LOG_INFO;
using support::EventsOf;
using Events = std::vector<std::wstring>;

constexpr wchar_t kWindowProc[] = L"DeviceScanSP::WindowProc";

// Device-change messages sent to the running service's real window: each is handled completely
// on the window thread before SendMessageW returns.
class WindowProcTest : public support::ServiceFixture {
  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
            Stick(letter);
        }
        ASSERT_EQ(service->Init(&host), 0u);
        ASSERT_EQ(service->Start(), 0u);
        window = support::FindOwnServiceWindow();
        ASSERT_NE(window, nullptr);
        recorder.Clear();
    }

    LRESULT SendVolume(WPARAM change, DWORD unitMask, WORD flags = 0) {
        DEV_BROADCAST_VOLUME volume{};
        volume.dbcv_size = sizeof(volume);
        volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        volume.dbcv_unitmask = unitMask;
        volume.dbcv_flags = flags;
        return SendMessageW(window, WM_DEVICECHANGE, change, reinterpret_cast<LPARAM>(&volume));
    }

    int HandlerCalls() const {
        int calls = 0;
        for (const auto& text : recorder.Texts()) {
            calls += text == L"-> DeviceScanSP::OnDeviceArrival()" ||
                     text == L"-> DeviceScanSP::OnDeviceRemoveComplete()";
        }
        return calls;
    }

    HWND window = nullptr;
};

TEST_F(WindowProcTest, LowestDriveOfTheMaskIsHandled) {
    struct Case {
        DWORD mask;
        const wchar_t* extracted;
    };
    const Case cases[] = {
        {0x00000010, L"Extracted device \"E:\\\" from mask 0x00000010"},
        {0x00000018, L"Extracted device \"D:\\\" from mask 0x00000018"},
        {0x02000000, L"Extracted device \"Z:\\\" from mask 0x02000000"},
        {0x82400020, L"Extracted device \"F:\\\" from mask 0x82400020"},
    };
    for (const Case& c : cases) {
        recorder.Clear();
        EXPECT_EQ(SendVolume(DBT_DEVICEARRIVAL, c.mask), 1);
        EXPECT_TRUE(HasMessage(kWindowProc, LOG_INFO, L"receive DEVICE_ARRIVAL"));
        EXPECT_TRUE(HasMessage(kWindowProc, LOG_INFO, c.extracted)) << c.extracted;
        EXPECT_EQ(HandlerCalls(), 1);
    }
    EXPECT_EQ(EventsOf(listener.log),
              (Events{L"mounted E:\\", L"mounted D:\\", L"mounted Z:\\", L"mounted F:\\"}));
}

TEST_F(WindowProcTest, MaskWithTwoDrivesHandlesOnlyTheLower) {
    SendVolume(DBT_DEVICEARRIVAL, 0x00000014);
    EXPECT_TRUE(HasMessage(L"DeviceScanSP::OnDeviceArrival", logging::LOG_WARNING,
                           L"Skip system drive from scanning! [path = C:\\]"));
    EXPECT_TRUE(listener.log.Entries().empty()) << "E: of the same notification is not handled";
}

TEST_F(WindowProcTest, RemovalIsDecodedTheSameWay) {
    SendVolume(DBT_DEVICEARRIVAL, 0x00000001);
    EXPECT_EQ(SendVolume(DBT_DEVICEREMOVECOMPLETE, 0x00000001), 1);
    EXPECT_TRUE(HasMessage(kWindowProc, LOG_INFO, L"receive DEVICE_REMOVE_COMPLETE"));
    EXPECT_EQ(EventsOf(listener.log), (Events{L"mounted A:\\", L"unmounted A:\\"}));
}

TEST_F(WindowProcTest, MaskWithoutADriveIsReported) {
    struct Case {
        WPARAM change;
        DWORD mask;
        const wchar_t* line;
    };
    const Case cases[] = {
        {DBT_DEVICEARRIVAL, 0, L"cannot retrive drive path [action = Mount] [mask = 0]"},
        {DBT_DEVICEARRIVAL, 0x04000000,
         L"cannot retrive drive path [action = Mount] [mask = 67108864]"},
        {DBT_DEVICEREMOVECOMPLETE, 0x80000000,
         L"cannot retrive drive path [action = UnMount] [mask = -2147483648]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SendVolume(c.change, c.mask), 1);
        EXPECT_TRUE(HasMessage(kWindowProc, LOG_ERROR, c.line)) << c.line;
    }
    EXPECT_EQ(HandlerCalls(), 0);
}

TEST_F(WindowProcTest, NetworkAndMediaFlagsAreDecodedLikeAnyOther) {
    SendVolume(DBT_DEVICEARRIVAL, 0x00000040, DBTF_NET);
    SendVolume(DBT_DEVICEARRIVAL, 0x00000080, DBTF_MEDIA);
    EXPECT_EQ(EventsOf(listener.log), (Events{L"mounted G:\\", L"mounted H:\\"}));
}

TEST_F(WindowProcTest, OtherNotificationsAreOnlyLogged) {
    struct Case {
        WPARAM change;
        const wchar_t* line;
    };
    const Case cases[] = {
        {DBT_DEVICEQUERYREMOVE, L"receive DEVICE_QUERY_REMOVE"},
        {DBT_DEVICEQUERYREMOVEFAILED, L"receive DEVICE_QUERY_REMOVE_FAILED"},
        {DBT_DEVICEREMOVEPENDING, L"receive DEVICE_REMOVE_PENDING"},
        {DBT_CONFIGCHANGED, L"receive DEVICE_CONFIG_CHANGED"},
        {DBT_DEVICETYPESPECIFIC, L"receive DEVICE_TYPE_SPECIFIC"},
        {DBT_DEVNODES_CHANGED, L"receive DEVICE_OTHER_MSG [value = 7]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SendVolume(c.change, 0x00000010), 1) << c.line;
        EXPECT_TRUE(HasMessage(kWindowProc, LOG_INFO, c.line)) << c.line;
    }
    EXPECT_EQ(HandlerCalls(), 0);
    EXPECT_EQ(recorder.Messages().size(), std::size(cases)) << "one line per notification";
}

TEST_F(WindowProcTest, ArrivalWithoutAVolumeHeaderIsOnlyLogged) {
    DEV_BROADCAST_DEVICEINTERFACE_W deviceInterface{};
    deviceInterface.dbcc_size = sizeof(deviceInterface);
    deviceInterface.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                           reinterpret_cast<LPARAM>(&deviceInterface)),
              1);
    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 1);
    EXPECT_EQ(recorder.Messages().size(), 2u);
    EXPECT_EQ(HandlerCalls(), 0);
}

TEST_F(WindowProcTest, OtherMessagesGetDefaultProcessing) {
    EXPECT_EQ(SendMessageW(window, WM_USER + 7, 1, 2), 0);
    EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0),
              static_cast<LRESULT>(std::wcslen(DeviceScanSP::kWindowName)));
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(WindowProcTest, WindowWithoutItsObjectGetsDefaultProcessingOnly) {
    // A window of the same class whose user data was never set, as during CreateWindowExW.
    const HWND bare = CreateWindowExW(0, DeviceScanSP::kWindowClassName, L"bare", 0, 0, 0, 0, 0,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(bare, nullptr);
    DEV_BROADCAST_VOLUME volume{sizeof(volume), DBT_DEVTYP_VOLUME, 0, 0x10, 0};
    const auto lParam = reinterpret_cast<LPARAM>(&volume);
    EXPECT_EQ(SendMessageW(bare, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lParam),
              DefWindowProcW(bare, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lParam));
    DestroyWindow(bare);
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "no quit message without an object";
    EXPECT_TRUE(recorder.Messages().empty());
}

// Records the error mode of the thread it is called on.
class ErrorModeListener : public fakes::RecordingListener {
  public:
    int OnDeviceMounted(const fakes::Device& device) override {
        modeWhileMounting = GetThreadErrorMode();
        return RecordingListener::OnDeviceMounted(device);
    }
    int OnDeviceUnmounted(const fakes::Device& device) override {
        modeWhileRemoving = GetThreadErrorMode();
        return RecordingListener::OnDeviceUnmounted(device);
    }
    DWORD modeWhileMounting = 0xFFFFFFFF;
    DWORD modeWhileRemoving = 0xFFFFFFFF;
};

TEST_F(WindowProcTest, ArrivalsAloneRunWithCriticalErrorsFailingSilently) {
    ErrorModeListener modes;
    ASSERT_EQ(service->Register(&modes), 0u);
    const DWORD ownMode = GetThreadErrorMode();

    SendVolume(DBT_DEVICEARRIVAL, 0x10);
    SendVolume(DBT_DEVICEREMOVECOMPLETE, 0x10);
    service->Unregister(&modes);

    EXPECT_TRUE(modes.modeWhileMounting & SEM_FAILCRITICALERRORS);
    EXPECT_FALSE(modes.modeWhileRemoving & SEM_FAILCRITICALERRORS) << "restored after the arrival";
    EXPECT_EQ(GetThreadErrorMode(), ownMode) << "other threads are untouched";
}

TEST_F(WindowProcTest, EveryAnnouncementComesFromTheWindowThread) {
    SendVolume(DBT_DEVICEARRIVAL, 0x10);
    const DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    ASSERT_EQ(listener.log.Entries().size(), 1u);
    EXPECT_EQ(listener.log.Entries()[0].threadId, windowThread);
    EXPECT_EQ(manager.producer.log.Entries()[0].threadId, windowThread);
}

}  // namespace
