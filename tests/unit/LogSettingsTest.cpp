#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Settings.h"

namespace {

using logdll::Settings;

Settings Parse(const std::wstring& text, std::vector<std::wstring>& problems) {
    return logdll::ParseSettings(text, problems);
}

TEST(LogSettings, MaxSizeTakesUnitsAndRefusesWhatCannotBeMeant) {
    const std::pair<const wchar_t*, std::uint64_t> good[] = {
        {L"0", 0}, {L"64 KB", 64 * 1024}, {L"5 mb", 5 * 1024 * 1024}, {L"0x1000", 0x1000}};
    for (const auto& [value, expected] : good) {
        std::vector<std::wstring> problems;
        EXPECT_EQ(Parse(std::wstring(L"max_size = ") + value, problems).maxSize, expected);
        EXPECT_TRUE(problems.empty()) << value;
    }
    for (const wchar_t* value : {L"1023", L"-5", L"5 TB", L"", L"0x10 KB", L"18446744073709551616",
                                 L"17179869184 GB", L"12abc"}) {
        std::vector<std::wstring> problems;
        EXPECT_EQ(Parse(std::wstring(L"max_size = ") + value, problems).maxSize,
                  Settings{}.maxSize);
        EXPECT_EQ(problems.size(), 1u) << value;
    }
}

// Keys and named values in any case, comments, sections and quotes; each bad line is reported
// with its number and the rest still applies.
TEST(LogSettings, GoodLinesApplyAndEachBadOneIsReported) {
    std::vector<std::wstring> problems;
    const Settings settings = Parse(
        L"; a comment\r\n[log]\r\n  path = \"C:\\logs\\a b.log\"  \r\nLevel = Warning\n"
        L"TYPE = Both\nflush = BUFFERED\nenabled = off\nbackups = 101\ncolour = blue\n",
        problems);
    EXPECT_EQ(settings.path, L"C:\\logs\\a b.log");
    EXPECT_EQ(settings.level, LOG_SEVERITY_WARNING);
    EXPECT_EQ(settings.type, LOG_TYPE_FILE | LOG_TYPE_DEBUGGER);
    EXPECT_EQ(settings.mode, LOG_MODE_BUFFERED);
    EXPECT_FALSE(settings.enabled);
    EXPECT_EQ(settings.backups, Settings{}.backups);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].rfind(L"line 8:", 0), 0u) << problems[0];
    EXPECT_NE(problems[1].find(L"colour"), std::wstring::npos);
}

}  // namespace
