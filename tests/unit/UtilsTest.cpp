#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "FixedStringT.h"
#include "Severity.h"
#include "ThreadErrorModeGuard.h"
#include "Utils.h"
#include "support/ServiceFixture.h"

namespace {

using fakes::FakePlatform;

class ProbeTest : public support::ServiceFixture {};

TEST_F(ProbeTest, HotPlugAnswerDecidesWhetherADriveIsFixed) {
    struct Case {
        UCHAR mediaRemovable, mediaHotplug, deviceHotplug;
        bool fixed;
    };
    const Case cases[] = {
        {1, 0, 0, false},  // removable media
        {0, 0, 1, false},  // hot-pluggable device
        {0, 1, 0, true},   // only media hot-plug: does not count
        {0, 0, 0, true},
    };
    for (const Case& c : cases) {
        fakes::FakeDrive& drive = Machine().Drive(L'E');
        drive.hotplug.MediaRemovable = c.mediaRemovable;
        drive.hotplug.MediaHotplug = c.mediaHotplug;
        drive.hotplug.DeviceHotplug = c.deviceHotplug;
        EXPECT_EQ(utils::IsFixedDrive(L"E:\\"), c.fixed)
            << int(c.mediaRemovable) << int(c.mediaHotplug) << int(c.deviceHotplug);
    }
    EXPECT_EQ(Machine().OpenDeviceHandles(), 0);
}

TEST_F(ProbeTest, ProbeOpensTheVolumeDeviceForQueryOnly) {
    Machine().Drive(L'E');
    utils::IsFixedDrive(L"E:\\folder");
    EXPECT_EQ(Machine().CountCalls(L"CreateFileW \\\\.\\E: 0 0 3 536870912"), 1)
        << "only the letter counts; no access, no sharing, OPEN_EXISTING, no buffering";
    EXPECT_EQ(Machine().CountCalls(L"DeviceIoControl 2952212 8"), 1);
}

TEST_F(ProbeTest, UnopenableOrUnqueryableDriveIsNotFixed) {
    Machine().Drive(L'G').openError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(utils::IsFixedDrive(L"G:\\"));
    EXPECT_TRUE(HasMessage(L"utils::IsFixedDrive", logging::LOG_ERROR,
                           L"Handle is not valid. Assume drive is not fixed"));

    Machine().Drive(L'E').hotplugError = ERROR_INVALID_FUNCTION;
    Machine().Drive(L'E').hotplug.MediaRemovable = 0;
    EXPECT_FALSE(utils::IsFixedDrive(L"E:\\"));
    EXPECT_TRUE(HasMessage(L"utils::IsFixedDrive", logging::LOG_ERROR,
                           L"DeviceIoControl failed. Assume drive is not fixed"));
    EXPECT_EQ(Machine().OpenDeviceHandles(), 0) << "the handle is closed after a failed query";
}

TEST_F(ProbeTest, SystemDirectoryGetsATrailingBackslash) {
    qv::FixedStringT directory;
    EXPECT_TRUE(utils::GetSystemDirectoryPath(directory));
    EXPECT_STREQ(directory.GetString(), L"C:\\Windows\\system32\\");
    EXPECT_EQ(directory.GetLength(), 20u);
    EXPECT_TRUE(directory.UsesInlineBuffer());

    Machine().SetSystemDirectory(L"D:\\WINNT\\");
    qv::FixedStringT already;
    EXPECT_TRUE(utils::GetSystemDirectoryPath(already));
    EXPECT_STREQ(already.GetString(), L"D:\\WINNT\\");
}

TEST_F(ProbeTest, UnreadableSystemDirectoryLeavesTheStringEmpty) {
    Machine().SetSystemDirectory(L"", ERROR_ACCESS_DENIED);
    qv::FixedStringT directory;
    EXPECT_FALSE(utils::GetSystemDirectoryPath(directory));
    EXPECT_EQ(directory.GetLength(), 0u);
}

TEST_F(ProbeTest, VersionSixOneAndLaterAllowThePerThreadErrorMode) {
    struct Case {
        DWORD major, minor;
        bool atLeast61;
    };
    for (const Case& c : {Case{6, 1, true}, Case{6, 2, true}, Case{10, 0, true}, Case{6, 0, false},
                          Case{5, 2, false}}) {
        Machine().SetOsVersion(c.major, c.minor);
        std::atomic<std::uint32_t> state{utils::kOsVersionUnknown};
        EXPECT_EQ(utils::IsOsVersionAtLeast61(state), c.atLeast61) << c.major << "." << c.minor;
        EXPECT_EQ(state, c.atLeast61 ? 1u : 0u);
    }
}

TEST_F(ProbeTest, VersionIsAskedOnceButAFailedQueryIsRepeated) {
    std::atomic<std::uint32_t> state{utils::kOsVersionUnknown};
    Machine().SetVersionQueryFails(true);
    EXPECT_FALSE(utils::IsOsVersionAtLeast61(state));
    EXPECT_FALSE(utils::IsOsVersionAtLeast61(state));
    EXPECT_EQ(Machine().CountCalls(L"GetVersionExW"), 2);

    Machine().SetVersionQueryFails(false);
    EXPECT_TRUE(utils::IsOsVersionAtLeast61(state));
    EXPECT_TRUE(utils::IsOsVersionAtLeast61(state));
    EXPECT_EQ(Machine().CountCalls(L"GetVersionExW"), 3);

    std::atomic<std::uint32_t> missing{utils::kOsVersionUnknown};
    Machine().SetVersionQueryAvailable(false);
    EXPECT_FALSE(utils::IsOsVersionAtLeast61(missing));
    EXPECT_EQ(missing, utils::kOsVersionUnknown);
}

TEST_F(ProbeTest, GuardSwitchesOnlyThisThreadAndRestoresItsExactMode) {
    SetThreadErrorMode(SEM_NOGPFAULTERRORBOX, nullptr);
    const UINT processMode = GetErrorMode();
    {
        ThreadErrorModeGuard guard;
        EXPECT_EQ(GetThreadErrorMode(), static_cast<DWORD>(SEM_FAILCRITICALERRORS));
        EXPECT_EQ(GetErrorMode(), processMode);
    }
    EXPECT_EQ(GetThreadErrorMode(), static_cast<DWORD>(SEM_NOGPFAULTERRORBOX));
    EXPECT_EQ(Machine().CountCalls(L"SetErrorMode"), 0);
    SetThreadErrorMode(0, nullptr);
}

TEST_F(ProbeTest, GuardWithoutThePerThreadCallChangesNothing) {
    Machine().SetThreadErrorModeAvailable(false);
    const DWORD before = GetThreadErrorMode();
    {
        ThreadErrorModeGuard guard;
        EXPECT_EQ(GetThreadErrorMode(), before);
    }
    EXPECT_EQ(GetThreadErrorMode(), before);
    EXPECT_EQ(Machine().CountCalls(L"SetErrorMode"), 0);
}

// The version answer is remembered for the whole process, so the older-system path runs in a
// child process of its own.
TEST(ThreadErrorModeGuardDeathTest, OlderSystemsSwitchTheProcessModeAndRestoreIt) {
    EXPECT_EXIT(
        {
            FakePlatform::Get().Reset();
            FakePlatform::Get().SetOsVersion(6, 0);
            SetErrorMode(SEM_NOOPENFILEERRORBOX);
            { ThreadErrorModeGuard guard; }
            const bool restored = GetErrorMode() == SEM_NOOPENFILEERRORBOX &&
                                  FakePlatform::Get().CountCalls(L"SetErrorMode 1") == 1 &&
                                  FakePlatform::Get().CountCalls(L"SetErrorMode 32768") == 1;
            std::exit(restored ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
