#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "log/LogFilePath.h"

namespace {

using devicescan::logdll::LogFileNameFor;
using devicescan::logdll::ResolveLogPath;

std::wstring Resolve(const std::wstring& setting) {
    return ResolveLogPath(setting, L"C:\\lib", L"host.log");
}

TEST(LogFilePath, RelativeAndEmptySettingsAreTakenFromTheLibraryDirectoryAfterExpansion) {
    EXPECT_EQ(Resolve(L""), L"C:\\lib\\host.log");
    EXPECT_EQ(Resolve(L"logs\\out.log"), L"C:\\lib\\logs\\out.log");
    EXPECT_EQ(Resolve(L"D:\\out.log"), L"D:\\out.log");
    EXPECT_EQ(Resolve(L"\\\\server\\share\\out.log"), L"\\\\server\\share\\out.log");
    EXPECT_EQ(Resolve(L"/var/out.log"), L"/var/out.log");
    // The environment is expanded before the path is judged.
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOG_FILE_PATH_TEST", L"D:\\from-env"));
    EXPECT_EQ(Resolve(L"%LOG_FILE_PATH_TEST%\\out.log"), L"D:\\from-env\\out.log");
    EXPECT_EQ(Resolve(L"%LOG_FILE_PATH_TEST_UNSET%\\out.log"),
              L"C:\\lib\\%LOG_FILE_PATH_TEST_UNSET%\\out.log");
    SetEnvironmentVariableW(L"LOG_FILE_PATH_TEST", nullptr);
}

TEST(LogFilePath, ADirectoryGetsTheDefaultFileName) {
    EXPECT_EQ(Resolve(L"D:\\logs\\"), L"D:\\logs\\host.log");
    EXPECT_EQ(Resolve(L"D:/logs/"), L"D:/logs/host.log");

    // An existing directory named without a trailing separator: the temporary one.
    wchar_t temp[MAX_PATH];
    ASSERT_NE(GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH), 0u);
    EXPECT_EQ(Resolve(L"%TEMP%"), temp + std::wstring(L"\\host.log"));
    EXPECT_EQ(Resolve(L"%TEMP%\\name"), temp + std::wstring(L"\\name"))
        << "a file still to be made";
}

TEST(LogFilePath, DefaultNameComesFromTheProgram) {
    EXPECT_EQ(LogFileNameFor(L"C:\\apps\\devicescan-host.exe"), L"devicescan-host.log");
    EXPECT_EQ(LogFileNameFor(L"C:\\apps.d\\tool"), L"tool.log");
    EXPECT_EQ(LogFileNameFor(L"C:\\apps\\archive.tar.exe"), L"archive.tar.log");
    EXPECT_EQ(LogFileNameFor(L"C:\\apps\\.hidden"), L".hidden.log");
    EXPECT_EQ(LogFileNameFor(L""), L"log.log");
}

}  // namespace
