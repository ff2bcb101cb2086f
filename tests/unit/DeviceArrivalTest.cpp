#include <gtest/gtest.h>

#include "Severity.h"
#include "support/Announcements.h"
#include "support/ServiceFixture.h"

namespace {

using logging::LOG_ERROR;
using logging::LOG_INFO;
using logging::LOG_WARNING;
using support::EventsOf;
using Events = std::vector<std::wstring>;

constexpr wchar_t kArrival[] = L"DeviceScanSP::OnDeviceArrival";

// Arrivals handed straight to the handler, as the window procedure does, with the producer
// acquired by Init (the window thread is not needed for the decision itself).
class ArrivalTest : public support::ServiceFixture {
  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        Machine().SetSessionId(3);
        ASSERT_EQ(service->Init(&host), 0u);
        recorder.Clear();
        Machine().ClearCalls();
    }

    void Arrive(const wchar_t* path) { service->OnDeviceArrival(qv::String(path)); }
    void Remove(const wchar_t* path) { service->OnDeviceRemoveComplete(qv::String(path)); }

    Events ProducerEvents() const { return EventsOf(manager.producer.log); }
    Events ListenerEvents() const { return EventsOf(listener.log); }
    bool NothingAnnounced() const { return ProducerEvents().empty() && ListenerEvents().empty(); }
};

TEST_F(ArrivalTest, SystemDriveIsSkippedInEitherCase) {
    Stick(L'C');
    Arrive(L"C:\\");
    Arrive(L"c:\\");
    EXPECT_TRUE(
        HasMessage(kArrival, LOG_WARNING, L"Skip system drive from scanning! [path = C:\\]"));
    EXPECT_TRUE(
        HasMessage(kArrival, LOG_WARNING, L"Skip system drive from scanning! [path = c:\\]"));
    EXPECT_EQ(Machine().CountCalls(L"GetDriveTypeW"), 0);
    EXPECT_TRUE(NothingAnnounced());

    Stick(L'D');
    Arrive(L"D:\\");
    EXPECT_EQ(ListenerEvents(), Events{L"mounted D:\\"});
}

TEST_F(ArrivalTest, DriveTypeDecidesWhatIsOffered) {
    struct Case {
        wchar_t letter;
        UINT driveType;
        std::int32_t announcedType;  // 0: rejected
    };
    const Case cases[] = {{L'E', DRIVE_UNKNOWN, 0},   {L'F', DRIVE_NO_ROOT_DIR, 0},
                          {L'G', DRIVE_RAMDISK, 0},   {L'H', 7, 0},
                          {L'I', DRIVE_REMOVABLE, 1}, {L'J', DRIVE_REMOTE, 2},
                          {L'K', DRIVE_CDROM, 3}};
    for (const Case& c : cases) {
        Stick(c.letter).driveType = c.driveType;
        const std::wstring path = std::wstring(1, c.letter) + L":\\";
        Arrive(path.c_str());
        if (c.announcedType == 0) {
            EXPECT_TRUE(HasMessage(kArrival, LOG_ERROR,
                                   L"invalid drive type [path = " + path + L"] [driveType = " +
                                       std::to_wstring(c.driveType) + L"]"));
        }
        EXPECT_TRUE(HasMessage(kArrival, LOG_INFO,
                               L"GetDriveType [path = " + path + L"] [driveType = " +
                                   std::to_wstring(c.driveType) + L"]"));
    }
    const auto announced = listener.log.Entries();
    ASSERT_EQ(announced.size(), 3u);
    EXPECT_EQ(announced[0].type, 1);
    EXPECT_EQ(announced[1].type, 2);
    EXPECT_EQ(announced[2].type, 3);
    EXPECT_EQ(Machine().CountCalls(L"CreateFileW"), 1) << "only local drives are probed";
}

TEST_F(ArrivalTest, HotPlugProbeOverridesTheReportedType) {
    // A USB disk that calls itself fixed but is hot-pluggable: announced.
    fakes::FakeDrive& usbDisk = Stick(L'E');
    usbDisk.driveType = DRIVE_FIXED;
    usbDisk.hotplug = {8, 0, 0, 1, 0};
    Arrive(L"E:\\");
    // A removable drive whose hot-plug information says neither: skipped.
    fakes::FakeDrive& internal = Stick(L'F');
    internal.hotplug = {8, 0, 1, 0, 0};
    Arrive(L"F:\\");
    // An internal disk reported as such: skipped too.
    fakes::FakeDrive& fixed = Stick(L'G');
    fixed.driveType = DRIVE_FIXED;
    fixed.hotplug = {8, 0, 0, 0, 0};
    Arrive(L"G:\\");

    EXPECT_EQ(ListenerEvents(), Events{L"mounted E:\\"});
    EXPECT_TRUE(HasMessage(kArrival, LOG_WARNING,
                           L"Fixed drive reported as removable [path = F:\\] [driveType = 2]"));
    EXPECT_TRUE(HasMessage(kArrival, LOG_WARNING,
                           L"Fixed drive reported as removable [path = G:\\] [driveType = 3]"));
}

TEST_F(ArrivalTest, UnprobeableDriveIsStillOffered) {
    Stick(L'E').openError = ERROR_ACCESS_DENIED;
    Stick(L'F').hotplugError = ERROR_NOT_SUPPORTED;
    Arrive(L"E:\\");
    Arrive(L"F:\\");
    EXPECT_EQ(ListenerEvents(), (Events{L"mounted E:\\", L"mounted F:\\"}));
    EXPECT_EQ(Machine().OpenDeviceHandles(), 0);
}

TEST_F(ArrivalTest, SizeDecidesWhetherThereIsAnythingToScan) {
    Stick(L'E').sizeError = ERROR_NOT_READY;  // an optical drive without a medium
    fakes::FakeDrive& zero = Stick(L'F');
    zero.totalBytes = zero.totalFreeBytes = zero.freeBytesToCaller = 0;
    fakes::FakeDrive& empty = Stick(L'G');
    empty.totalFreeBytes = empty.freeBytesToCaller = empty.totalBytes;
    fakes::FakeDrive& noQuota = Stick(L'H');
    noQuota.freeBytesToCaller = noQuota.totalBytes;
    for (const wchar_t* path : {L"E:\\", L"F:\\", L"G:\\", L"H:\\"}) {
        Arrive(path);
    }
    EXPECT_TRUE(NothingAnnounced());
    EXPECT_TRUE(HasMessage(kArrival, LOG_ERROR, L"disk info failed [path = E:\\] [error = 21]"));
    EXPECT_TRUE(HasMessage(kArrival, LOG_WARNING, L"disk info : 0 total bytes [path = F:\\]"));
    EXPECT_TRUE(HasMessage(kArrival, LOG_WARNING,
                           L"disk info : drive is empty or no user-quota [path = G:\\]"));
    EXPECT_TRUE(HasMessage(kArrival, LOG_WARNING,
                           L"disk info : drive is empty or no user-quota [path = H:\\]"));

    Arrive(L"G:\\");
    EXPECT_TRUE(NothingAnnounced()) << "a skipped drive is examined afresh and skipped again";
}

TEST_F(ArrivalTest, AnnouncedRecordCarriesSizesAndSession) {
    Stick(L'E');  // 16000000000 bytes, 6000000000 free for everybody and for the caller
    fakes::FakeDrive& quota = Stick(L'F');
    quota.totalBytes = 1000;
    quota.totalFreeBytes = 600;
    quota.freeBytesToCaller = 400;
    Arrive(L"E:\\");
    Arrive(L"F:\\");

    const auto announced = listener.log.Entries();
    ASSERT_EQ(announced.size(), 2u);
    EXPECT_EQ(announced[0].fullSize, 16000000000ull);
    EXPECT_EQ(announced[0].storedSize, 10000000000ull);
    EXPECT_EQ(announced[0].sessionId, 3u);
    EXPECT_EQ(announced[0].remote, L"");
    EXPECT_EQ(announced[1].storedSize, 600u) << "the smaller free figure counts";
    EXPECT_TRUE(HasMessage(kArrival, LOG_INFO,
                           L"Device Mounted [path = E:\\] [remote = ] [type = 1] "
                           L"[fullSize = 15258 MB] [storedSize = 9536 MB]"));
}

TEST_F(ArrivalTest, ProducerHearsFirstWithTheProcessId) {
    fakes::RecordingListener second(1);
    fakes::RecordingListener third;
    ASSERT_EQ(service->Register(&second), 0u);
    ASSERT_EQ(service->Register(&third), 0u);
    Stick(L'E');
    Arrive(L"E:\\");

    const auto produced = manager.producer.log.Entries();
    ASSERT_EQ(produced.size(), 1u);
    EXPECT_EQ(produced[0].argument, GetCurrentProcessId());
    EXPECT_EQ(EventsOf(second.log), Events{L"mounted E:\\"});
    EXPECT_EQ(EventsOf(third.log), Events{L"mounted E:\\"}) << "a listener's result is ignored";
    EXPECT_LT(produced[0].sequence, listener.log.Entries()[0].sequence);
    EXPECT_LT(listener.log.Entries()[0].sequence, second.log.Entries()[0].sequence);
    EXPECT_LT(second.log.Entries()[0].sequence, third.log.Entries()[0].sequence);
    service->Unregister(&second);
    service->Unregister(&third);
}

TEST_F(ArrivalTest, DriveAlreadyMountedIsNotAnnouncedAgain) {
    Stick(L'E');
    Arrive(L"E:\\");
    Arrive(L"E:\\");
    EXPECT_EQ(ListenerEvents(), Events{L"mounted E:\\"});
    EXPECT_EQ(ProducerEvents(), Events{L"mounted E:\\"});
    EXPECT_TRUE(HasMessage(kArrival, LOG_INFO,
                           L"Device Already Mounted [path = E:\\] [remote = ] [type = 1]"));
}

TEST_F(ArrivalTest, NetworkDriveIsAnnouncedWithItsUniversalName) {
    fakes::FakeDrive& share = Stick(L'G');
    share.driveType = DRIVE_REMOTE;
    share.universalNameError = NO_ERROR;
    share.universalName = L"\\\\server\\share";
    Arrive(L"G:\\");

    EXPECT_EQ(Machine().CountCalls(L"WNetGetUniversalNameW G: 1 2048"), 1);
    ASSERT_EQ(listener.log.Entries().size(), 1u);
    EXPECT_EQ(listener.log.Entries()[0].remote, L"\\\\server\\share");
    EXPECT_EQ(manager.producer.log.Entries()[0].remote, L"\\\\server\\share");
    EXPECT_TRUE(HasMessage(kArrival, LOG_INFO,
                           L"Device Mounted [path = G:\\] [remote = \\\\server\\share] [type = 2] "
                           L"[fullSize = 15258 MB] [storedSize = 9536 MB]"));

    Remove(L"G:\\");
    ASSERT_EQ(listener.log.Entries().size(), 2u);
    EXPECT_EQ(listener.log.Entries()[1].remote, L"") << "the stored copy keeps an empty remote";
}

TEST_F(ArrivalTest, UnresolvableNetworkDriveIsStillAnnounced) {
    fakes::FakeDrive& share = Stick(L'G');
    share.driveType = DRIVE_REMOTE;
    share.universalNameError = ERROR_NOT_CONNECTED;
    Arrive(L"G:\\");
    EXPECT_TRUE(HasMessage(kArrival, LOG_INFO,
                           L"cannot resolve remote path [localPath = G:\\] [error = 2250]"));
    ASSERT_EQ(listener.log.Entries().size(), 1u);
    EXPECT_EQ(listener.log.Entries()[0].remote, L"");
}

TEST_F(ArrivalTest, ListenersHearEvenWithoutAProducer) {
    service->UnInit();  // gives the producer back
    Stick(L'E');
    Arrive(L"E:\\");
    EXPECT_EQ(ListenerEvents(), Events{L"mounted E:\\"});
    EXPECT_TRUE(ProducerEvents().empty());
}

}  // namespace
