#include <tuple>

#include "logging/LogApi.h"
#include "tests/support/ServiceFixture.h"

namespace {

using devicescan::logging::LOG_ERROR;
using devicescan::logging::LOG_INFO;
using devicescan::logging::LOG_WARNING;
using DeviceTest = devicescan::service::DeviceHandlerTestAccess;
using Events = std::vector<std::wstring>;

constexpr wchar_t kArrival[] = L"DeviceScanSP::OnDeviceArrival";
constexpr wchar_t kRemoval[] = L"DeviceScanSP::OnDeviceRemoveComplete";

TEST_F(DeviceTest, DriveTypeAndHotPlugAnswerDecideWhatIsOffered) {
    // From E: on: the drive type; the hot-plug answer's removable media, media hot-plug and
    // device hot-plug flags (only local drives are asked; one with neither removable media nor
    // device hot-plug is fixed, whatever its media hot-plug says); the type announced (0: none).
    const std::tuple<UINT, UCHAR, UCHAR, UCHAR, std::int32_t> drives[] = {
        {DRIVE_UNKNOWN, 1, 0, 0, 0},   {DRIVE_NO_ROOT_DIR, 1, 0, 0, 0},
        {DRIVE_RAMDISK, 1, 0, 0, 0},   {7, 1, 0, 0, 0},
        {DRIVE_REMOVABLE, 1, 0, 0, 1}, {DRIVE_REMOTE, 0, 0, 0, 2},
        {DRIVE_CDROM, 0, 0, 0, 3},     {DRIVE_FIXED, 1, 0, 0, 1},
        {DRIVE_REMOVABLE, 0, 0, 0, 0}, {DRIVE_FIXED, 0, 0, 0, 0},
        {DRIVE_FIXED, 0, 0, 1, 1},     {DRIVE_FIXED, 0, 1, 0, 0}};
    wchar_t letter = L'E';
    for (const auto& [type, media, mediaHotplug, device, announced] : drives) {
        const std::wstring path = std::wstring(1, letter++) + L":\\";
        Machine().Drive(path[0]) = {
            .driveType = type,
            .hotplug = {sizeof(STORAGE_HOTPLUG_INFO), media, mediaHotplug, device, 0}};
        listener.heard.clear();
        Arrive(path.c_str());
        EXPECT_EQ(listener.heard.empty() ? 0 : listener.heard[0].device.type, announced) << path;
    }
    EXPECT_EQ(Machine().openHandles, 0) << "a probe's handle was left open";
    EXPECT_TRUE(Logged(kArrival, LOG_ERROR, L"invalid drive type [path = H:\\] [driveType = 7]"));
    EXPECT_TRUE(Logged(kArrival, LOG_WARNING,
                       L"Fixed drive reported as removable [path = M:\\] [driveType = 2]"));
}

TEST_F(DeviceTest, SystemDriveAndDrivesWithNothingToScanAreSkipped) {
    Machine().Drive(L'E').sizeError = ERROR_NOT_READY;  // an optical drive without a medium
    Machine().Drive(L'F') = {.freeBytesToCaller = 0, .totalBytes = 0, .totalFreeBytes = 0};
    // G: all of its 16 GB free; H: all of it free to the caller, as when no quota is left.
    Machine().Drive(L'G') = {.freeBytesToCaller = 16000000000ull, .totalFreeBytes = 16000000000ull};
    Machine().Drive(L'H').freeBytesToCaller = 16000000000ull;
    const std::tuple<const wchar_t*, std::uint32_t, const wchar_t*> skipped[] = {
        {L"C:\\", LOG_WARNING, L"Skip system drive from scanning! [path = C:\\]"},
        {L"c:\\", LOG_WARNING, L"Skip system drive from scanning! [path = c:\\]"},
        {L"E:\\", LOG_ERROR, L"disk info failed [path = E:\\] [error = 21]"},
        {L"F:\\", LOG_WARNING, L"disk info : 0 total bytes [path = F:\\]"},
        {L"G:\\", LOG_WARNING, L"disk info : drive is empty or no user-quota [path = G:\\]"},
        {L"H:\\", LOG_WARNING, L"disk info : drive is empty or no user-quota [path = H:\\]"}};
    for (const auto& [path, severity, line] : skipped) {
        Arrive(path);
        EXPECT_TRUE(Logged(kArrival, severity, line)) << line;
    }
    EXPECT_TRUE(listener.heard.empty() && host.producer.heard.empty());
}

// E: as scripted by default: 16000000000 bytes, 6000000000 free for everybody and the caller. A
// network drive is announced with its universal name, and its record is stored without it.
TEST_F(DeviceTest, ProducerHearsOnceThenListenersWithSizesSessionAndUniversalName) {
    Machine().Drive(L'F') = {.freeBytesToCaller = 400, .totalBytes = 1000, .totalFreeBytes = 600};
    Machine().Drive(L'G') = {.driveType = DRIVE_REMOTE,
                             .universalNameError = NO_ERROR,
                             .universalName = L"\\\\server\\share"};
    Machine().Drive(L'H').driveType = DRIVE_REMOTE;  // its name cannot be resolved
    listener.onMount = [&] { EXPECT_EQ(host.producer.heard.size(), 1u) << "producer first"; };
    for (const wchar_t* path : {L"E:\\", L"F:\\", L"E:\\", L"G:\\", L"H:\\"}) {
        Arrive(path);
    }
    Remove(L"G:\\");

    const auto& heard = listener.heard;
    ASSERT_EQ(listener.Events(), (Events{L"mounted E:\\", L"mounted F:\\", L"mounted G:\\",
                                         L"mounted H:\\", L"unmounted G:\\"}));
    ASSERT_EQ(host.producer.heard.size(), 5u);
    EXPECT_EQ(host.producer.heard[0].argument, GetCurrentProcessId());
    EXPECT_EQ(heard[0].device.fullSize, 16000000000ull);
    EXPECT_EQ(heard[0].device.storedSize, 10000000000ull);
    EXPECT_EQ(heard[0].device.sessionId, 3u);
    EXPECT_EQ(heard[1].device.storedSize, 600u) << "the smaller free figure counts";
    EXPECT_STREQ(heard[2].device.remote.GetString(), L"\\\\server\\share");
    EXPECT_STREQ(host.producer.heard[2].device.remote.GetString(), L"\\\\server\\share");
    EXPECT_STREQ(heard[3].device.remote.GetString(), L"");
    EXPECT_STREQ(heard[4].device.remote.GetString(), L"") << "the stored copy has no remote";
    EXPECT_TRUE(Logged(kArrival, LOG_INFO,
                       L"Device Mounted [path = E:\\] [remote = ] [type = 1] "
                       L"[fullSize = 15258 MB] [storedSize = 9536 MB]"));
    EXPECT_TRUE(
        Logged(kArrival, LOG_INFO, L"Device Already Mounted [path = E:\\] [remote = ] [type = 1]"));
    EXPECT_TRUE(Logged(kArrival, LOG_INFO,
                       L"cannot resolve remote path [localPath = H:\\] [error = 2250]"));
}

TEST_F(DeviceTest,
       OnlyAMountedDriveIsAnnouncedWithItsStoredRecordAndListenersHearWithoutAProducer) {
    Remove(L"F:\\");
    EXPECT_TRUE(Logged(kRemoval, LOG_INFO, L"Device unMounted [path = F:\\]"));
    Arrive(L"E:\\");
    Machine().Drive(L'E').totalBytes *= 2;  // the removal does not measure the drive again
    Remove(L"e:\\");
    Remove(L"E:\\");
    Remove(L"E:\\");
    Arrive(L"E:\\");

    EXPECT_TRUE(Logged(kRemoval, LOG_INFO, L"removing device [path = E:\\] [type = 1]"));
    const Events expected{L"mounted E:\\", L"unmounted E:\\", L"mounted E:\\"};
    ASSERT_EQ(listener.Events(), expected) << "paths match case-sensitively, and once";
    ASSERT_EQ(host.producer.Events(), expected);
    EXPECT_EQ(host.producer.heard[1].argument, 0xDEADu);
    EXPECT_EQ(listener.heard[1].device.fullSize, 16000000000ull);

    service->UnInit();  // gives the producer back; the table stays
    Remove(L"E:\\");
    Arrive(L"F:\\");
    EXPECT_EQ(listener.Events().size(), 5u) << "listeners hear even without a producer";
    EXPECT_EQ(host.producer.heard.size(), 3u);
}

}  // namespace
