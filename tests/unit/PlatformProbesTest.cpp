#include <atomic>
#include <tuple>

#include "devicescan/ThreadErrorModeGuard.h"
#include "drives/DriveProbes.h"
#include "drives/SystemDirectory.h"
#include "logging/LogApi.h"
#include "sdk/FixedStringT.h"
#include "tests/support/ServiceFixture.h"

namespace {

namespace service = devicescan::service;
namespace utils = devicescan::service::utils;
using ProbeTest = test_support::ServiceFixture;

// A probe that fails counts as not fixed, and closes what it opened. (Which answers make a drive
// fixed is the handler tests' table: each answer there decides an arrival.)
TEST_F(ProbeTest, HotPlugProbeThatFailsCountsAsNotFixed) {
    // Both drives would answer "fixed" if asked.
    constexpr STORAGE_HOTPLUG_INFO kFixed{sizeof(STORAGE_HOTPLUG_INFO), 0, 0, 0, 0};
    Machine().Drive(L'G') = {.openError = ERROR_ACCESS_DENIED, .hotplug = kFixed};
    EXPECT_FALSE(utils::IsFixedDrive(L"G:\\"));
    EXPECT_TRUE(Logged(L"utils::IsFixedDrive", devicescan::logging::LOG_ERROR,
                       L"Handle is not valid. Assume drive is not fixed"));
    Machine().Drive(L'E') = {.hotplugError = ERROR_INVALID_FUNCTION, .hotplug = kFixed};
    EXPECT_FALSE(utils::IsFixedDrive(L"E:\\"));
    EXPECT_TRUE(Logged(L"utils::IsFixedDrive", devicescan::logging::LOG_ERROR,
                       L"DeviceIoControl failed. Assume drive is not fixed"));
    EXPECT_EQ(Machine().openHandles, 0);
}

TEST_F(ProbeTest, SystemDirectoryGetsATrailingBackslash) {
    qv::FixedStringT directory;
    EXPECT_TRUE(service::GetSystemDirectoryPath(directory));
    EXPECT_STREQ(directory.GetString(), L"C:\\Windows\\system32\\");
    EXPECT_EQ(directory.GetLength(), 20u);
}

TEST_F(ProbeTest, VersionIsAskedOnceAndSixOneIsTheFirstWithThePerThreadMode) {
    const std::tuple<DWORD, DWORD, bool> versions[] = {
        {6, 1, true}, {6, 2, true}, {10, 0, true}, {6, 0, false}, {5, 2, false}};
    for (const auto& [major, minor, atLeast61] : versions) {
        Machine().osMajor = major;
        Machine().osMinor = minor;
        std::atomic<std::uint32_t> state{service::kOsVersionUnknown};
        EXPECT_EQ(service::IsOsVersionAtLeast61(state), atLeast61) << major << "." << minor;
        EXPECT_EQ(service::IsOsVersionAtLeast61(state), atLeast61) << major << "." << minor;
    }
    EXPECT_EQ(Machine().versionQueries, static_cast<int>(std::size(versions)));
}

}  // namespace
