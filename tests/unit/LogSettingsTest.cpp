#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Settings.h"

namespace {

using logdll::ParseSettings;
using logdll::Settings;

struct Parsed {
    Settings settings;
    std::vector<std::wstring> problems;
};

Parsed Parse(const std::wstring& text) {
    Parsed parsed;
    parsed.settings = ParseSettings(text, parsed.problems);
    return parsed;
}

TEST(LogSettings, MaxSizeTakesUnitsAndRefusesWhatCannotBeMeant) {
    const struct {
        const wchar_t* value;
        std::uint64_t expected;  // 0 with bad: the default stays
        bool bad;
    } cases[] = {
        {L"4096", 4096, false},
        {L"1024", 1024, false},
        {L"0", 0, false},
        {L"64k", 64 * 1024, false},
        {L"64 KB", 64 * 1024, false},
        {L"5 mb", 5 * 1024 * 1024, false},
        {L"2G", 2ull << 30, false},
        {L"0x1000", 0x1000, false},
        {L"1023", 0, true},
        {L"-5", 0, true},
        {L"5 TB", 0, true},
        {L"", 0, true},
        {L"0x10 KB", 0, true},
        {L"18446744073709551616", 0, true},
        {L"17179869184 GB", 0, true},
        {L"12abc", 0, true},
    };
    for (const auto& test : cases) {
        const Parsed parsed = Parse(std::wstring(L"max_size = ") + test.value);
        EXPECT_EQ(parsed.problems.size(), test.bad ? 1u : 0u) << test.value;
        EXPECT_EQ(parsed.settings.maxSize, test.bad ? Settings{}.maxSize : test.expected)
            << test.value;
    }
}

TEST(LogSettings, NamedValuesAreCaseInsensitive) {
    const Parsed parsed = Parse(
        L"Level = Warning\nTYPE = Both\nflush = BUFFERED\nenabled = off\nmonitor = Yes\n"
        L"backups = 100\ndepth = 7\n");
    EXPECT_TRUE(parsed.problems.empty());
    EXPECT_EQ(parsed.settings.level, LOG_SEVERITY_WARNING);
    EXPECT_EQ(parsed.settings.type, LOG_TYPE_FILE | LOG_TYPE_DEBUGGER);
    EXPECT_EQ(parsed.settings.mode, LOG_MODE_BUFFERED);
    EXPECT_FALSE(parsed.settings.enabled);
    EXPECT_TRUE(parsed.settings.monitor);
    EXPECT_EQ(parsed.settings.backups, 100u);
    EXPECT_EQ(parsed.settings.depth, 7u);

    EXPECT_EQ(Parse(L"level = all").settings.level, LOG_LEVEL_ALL);
    EXPECT_EQ(Parse(L"level = 0x40").settings.level, LOG_SEVERITY_DEBUG);
    EXPECT_EQ(Parse(L"level = error").settings.level, LOG_SEVERITY_ERROR);
}

TEST(LogSettings, CommentsSectionsQuotesAndBlanksAreNotProblems) {
    const Parsed parsed = Parse(
        L"; a comment\r\n# another\r\n\r\n[log]\r\n  path = \"C:\\logs\\a b.log\"  \r\n"
        L"\tlevel=error\r\n");
    EXPECT_TRUE(parsed.problems.empty());
    EXPECT_EQ(parsed.settings.path, L"C:\\logs\\a b.log");
    EXPECT_EQ(parsed.settings.level, LOG_SEVERITY_ERROR);
}

TEST(LogSettings, EachBadLineIsReportedWithItsNumberAndTheRestStillApplies) {
    const Parsed parsed = Parse(
        L"level = loud\nbackups = 101\nwords without equals\ncolour = blue\n"
        L"depth = 1001\nlevel = error\n");
    ASSERT_EQ(parsed.problems.size(), 5u);
    EXPECT_EQ(parsed.problems[0].rfind(L"line 1:", 0), 0u) << parsed.problems[0];
    EXPECT_EQ(parsed.problems[2].rfind(L"line 3:", 0), 0u) << parsed.problems[2];
    EXPECT_NE(parsed.problems[3].find(L"colour"), std::wstring::npos);
    EXPECT_EQ(parsed.settings.backups, Settings{}.backups);
    EXPECT_EQ(parsed.settings.depth, Settings{}.depth);
    EXPECT_EQ(parsed.settings.level, LOG_SEVERITY_ERROR);
}

TEST(LogSettings, ProblemListStaysShortForGarbage) {
    std::wstring garbage;
    for (int i = 0; i < 500; ++i) {
        garbage += L"???\n";
    }
    const Parsed parsed = Parse(garbage);
    ASSERT_EQ(parsed.problems.size(), 11u);
    EXPECT_EQ(parsed.problems.back(), L"490 more problems not listed");
}

TEST(LogSettings, FileTextIsDecodedFromUtf8OrUtf16) {
    EXPECT_EQ(logdll::DecodeSettingsText("path = caf\xC3\xA9.log"), L"path = caf\u00e9.log");
    EXPECT_EQ(logdll::DecodeSettingsText("\xEF\xBB\xBFlevel = error"), L"level = error");
    EXPECT_EQ(logdll::DecodeSettingsText(std::string("\xFF\xFEl\0v\0", 6)), L"lv");
    EXPECT_EQ(logdll::DecodeSettingsText("bad \xFF byte"), L"bad \uFFFD byte");
    EXPECT_EQ(logdll::DecodeSettingsText(""), L"");
}

}  // namespace
