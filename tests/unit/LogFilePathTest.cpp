#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "log/LogFilePath.h"

namespace {

using devicescan::logdll::LogFileNameFor;
using devicescan::logdll::ResolveLogPath;

// Relative and empty settings are taken from the library's directory, after the environment is
// expanded; a directory, named with a trailing separator or existing, gets the default name
// (but not a file in it still to be made).
TEST(LogFilePath, SettingsResolveFromTheLibraryDirectoryAfterExpansion) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOG_FILE_PATH_TEST", L"D:\\from-env"));
    wchar_t temp[MAX_PATH];
    ASSERT_NE(GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH), 0u);
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {L"", L"C:\\lib\\host.log"},
        {L"logs\\out.log", L"C:\\lib\\logs\\out.log"},
        {L"D:\\out.log", L"D:\\out.log"},
        {L"\\\\server\\share\\out.log", L"\\\\server\\share\\out.log"},
        {L"/var/out.log", L"/var/out.log"},
        {L"%LOG_FILE_PATH_TEST%\\out.log", L"D:\\from-env\\out.log"},
        {L"%LOG_FILE_PATH_TEST_UNSET%\\out.log", L"C:\\lib\\%LOG_FILE_PATH_TEST_UNSET%\\out.log"},
        {L"D:\\logs\\", L"D:\\logs\\host.log"},
        {L"D:/logs/", L"D:/logs/host.log"},
        {L"%TEMP%", temp + std::wstring(L"\\host.log")},
        {L"%TEMP%\\name", temp + std::wstring(L"\\name")}};
    for (const auto& [setting, expected] : cases) {
        EXPECT_EQ(ResolveLogPath(setting, L"C:\\lib", L"host.log"), expected);
    }
    SetEnvironmentVariableW(L"LOG_FILE_PATH_TEST", nullptr);
}

TEST(LogFilePath, DefaultNameComesFromTheProgram) {
    EXPECT_EQ(LogFileNameFor(L"C:\\apps\\devicescan-host.exe"), L"devicescan-host.log");
    EXPECT_EQ(LogFileNameFor(L"C:\\apps.d\\tool"), L"tool.log");
    EXPECT_EQ(LogFileNameFor(L"C:\\apps\\archive.tar.exe"), L"archive.tar.log");
    EXPECT_EQ(LogFileNameFor(L"C:\\apps\\.hidden"), L".hidden.log");
    EXPECT_EQ(LogFileNameFor(L""), L"log.log");
}

}  // namespace
