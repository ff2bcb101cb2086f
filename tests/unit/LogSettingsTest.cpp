// log.dll's settings as they are read, one line at a time: what each key takes from each way of
// writing a value, and what it refuses (the default stays and the line is reported). The settings
// fuzzer checks that refused values never get through; this checks what taken values become.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/Settings.h"
#include "log/SettingsFile.h"

namespace {

namespace logdll = devicescan::logdll;
using logdll::Settings;

// The field a key sets, as text.
std::wstring FieldOf(const Settings& s, const std::wstring& key) {
    if (key == L"enabled") {
        return std::to_wstring(s.enabled);
    }
    if (key == L"path") {
        return s.path;
    }
    if (key == L"level") {
        return std::to_wstring(s.level);
    }
    if (key == L"max_size") {
        return std::to_wstring(s.maxSize);
    }
    if (key == L"backups") {
        return std::to_wstring(s.backups);
    }
    if (key == L"type") {
        return std::to_wstring(s.type);
    }
    if (key == L"flush") {
        return std::to_wstring(s.mode);
    }
    if (key == L"depth") {
        return std::to_wstring(s.depth);
    }
    return std::to_wstring(s.monitor);
}

const std::vector<std::wstring> kKeys = {L"enabled", L"path",  L"level", L"max_size", L"backups",
                                         L"type",    L"flush", L"depth", L"monitor"};

constexpr const wchar_t* kRefused = nullptr;

// Each row: a settings line, the key it sets and the value that key must then hold, or kRefused
// (the default stays and one problem names the line). A line of an unknown key, or with no '=',
// sets nothing and is reported. Every other key keeps its default in every row.
TEST(LogSettings, EachKeyTakesEachFormOfItsValuesAndRefusesTheRest) {
    const struct {
        const wchar_t* line;
        const wchar_t* key;
        const wchar_t* value;
    } rows[] = {
        {L"enabled = off", L"enabled", L"0"},
        {L"ENABLED\t=\tNo", L"enabled", L"0"},
        {L"enabled = FALSE", L"enabled", L"0"},
        {L"enabled = 0", L"enabled", L"0"},
        {L"enabled = 2", L"enabled", kRefused},
        {L"path = \"C:\\with space\\a.log\"", L"path", L"C:\\with space\\a.log"},
        {L"path = \"", L"path", L"\""},
        {L"path = \"unclosed", L"path", L"\"unclosed"},
        {L"path = \"\"", L"path", L""},
        {L"path = D:\\a=b.log", L"path", L"D:\\a=b.log"},
        {L"level = error", L"level", L"4"},
        {L"Level = WARNING", L"level", L"8"},
        {L"level = Debug", L"level", L"64"},
        {L"level = all", L"level", L"4294967295"},
        {L"level = 0xFF", L"level", L"255"},
        {L"level = 0XaB", L"level", L"171"},
        {L"level = 12", L"level", L"12"},
        {L"level = 4294967295", L"level", L"4294967295"},
        {L"level = 4294967296", L"level", kRefused},
        {L"level = 0x", L"level", kRefused},
        {L"level = 1 K", L"level", kRefused},
        {L"level = 0xG", L"level", kRefused},
        {L"max_size = 0", L"max_size", L"0"},
        {L"max_size = 1024", L"max_size", L"1024"},
        {L"max_size = 1024 B", L"max_size", L"1024"},
        {L"max_size = 1023", L"max_size", kRefused},
        {L"max_size = 1k", L"max_size", L"1024"},
        {L"max_size = 2 KB", L"max_size", L"2048"},
        {L"max_size = 3M", L"max_size", L"3145728"},
        {L"max_size = 3 mb", L"max_size", L"3145728"},
        {L"max_size = 4G", L"max_size", L"4294967296"},
        {L"max_size = 4 Gb", L"max_size", L"4294967296"},
        {L"max_size = 0x400", L"max_size", L"1024"},
        {L"max_size = 0xfFfF", L"max_size", L"65535"},
        {L"max_size = 17179869183 G", L"max_size", L"18446744072635809792"},
        {L"max_size = 17179869184 G", L"max_size", kRefused},  // 2^64
        {L"max_size = 0x400 K", L"max_size", kRefused},
        {L"max_size = 1.5 MB", L"max_size", kRefused},
        {L"max_size = 5 TB", L"max_size", kRefused},
        {L"max_size = 2 K B", L"max_size", kRefused},
        {L"max_size = KB", L"max_size", kRefused},
        {L"backups = 0", L"backups", L"0"},
        {L"backups = 100", L"backups", L"100"},
        {L"backups = 0x64", L"backups", L"100"},
        {L"backups = 101", L"backups", kRefused},
        {L"backups = 2 K", L"backups", kRefused},
        {L"type = debugger", L"type", L"2"},
        {L"type = BOTH", L"type", L"3"},
        {L"type = File", L"type", L"1"},
        {L"type = 2", L"type", kRefused},
        {L"flush = Buffered", L"flush", L"1"},
        {L"flush = LINE", L"flush", L"0"},
        {L"flush = 1", L"flush", kRefused},
        {L"depth = 1000", L"depth", L"1000"},
        {L"depth = 0xA", L"depth", L"10"},
        {L"depth = 1001", L"depth", kRefused},
        {L"monitor = on", L"monitor", L"1"},
        {L"Monitor = TRUE", L"monitor", L"1"},
        {L"monitor = often", L"monitor", kRefused},
        {L" \tMAX_SIZE \t=\t 2 K\t ", L"max_size", L"2048"},
        {L"max size = 2 K", nullptr, nullptr},
        {L"max_size 2 K", nullptr, nullptr},
        {L"max_sizes = 2 K", nullptr, nullptr},
    };
    const Settings defaults;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        std::vector<std::wstring> problems;
        const Settings settings = logdll::ParseSettings(row.line, problems);
        const bool taken = row.value != kRefused;
        EXPECT_EQ(problems.size(), taken ? 0u : 1u);
        for (const std::wstring& key : kKeys) {
            const bool set = row.key != nullptr && key == row.key && taken;
            EXPECT_EQ(FieldOf(settings, key), set ? row.value : FieldOf(defaults, key)) << key;
        }
    }
}

// Comments and sections are skipped but counted as lines; the first ten problems are listed by
// line and the rest summed up in one more.
TEST(LogSettings, ProblemsNameTheirLinesAndStopAtTen) {
    for (const std::size_t bad : {std::size_t{10}, std::size_t{12}}) {
        std::wstring text = L"; comment\r\n[log]\r\n\r\n";
        for (std::size_t line = 0; line < bad; ++line) {
            text += L"depth = x\r\n";
        }
        text += L"depth = 7\n";
        std::vector<std::wstring> problems;
        EXPECT_EQ(logdll::ParseSettings(text, problems).depth, 7u);
        ASSERT_EQ(problems.size(), bad == 10 ? 10u : 11u) << bad;
        EXPECT_EQ(problems.front(), L"line 4: bad value, the default is used: \"depth = x\"");
        EXPECT_EQ(problems[9].substr(0, 8), L"line 13:");
        EXPECT_EQ(problems.back(), bad == 10 ? problems[9] : L"2 more problems not listed");
    }
}

// A file of exactly the size limit is read whole; one byte more and every setting is the default.
TEST(LogSettings, FileAtTheSizeLimitIsReadAndOneByteMoreIsNot) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("log-settings-" + std::to_string(GetCurrentProcessId()) + ".ini");
    for (const std::size_t size :
         {logdll::kMaximumSettingsFileBytes, logdll::kMaximumSettingsFileBytes + 1}) {
        SCOPED_TRACE(size);
        const std::string setting = "\r\nbackups = 7\r\n";
        std::ofstream(file, std::ios::binary)
            << ";" + std::string(size - 1 - setting.size(), '-') + setting;
        ASSERT_EQ(std::filesystem::file_size(file), size);
        std::vector<std::wstring> problems;
        bool found = false;
        const Settings settings = logdll::ReadSettingsFile(file.wstring(), problems, found);
        EXPECT_TRUE(found);
        const bool read = size <= logdll::kMaximumSettingsFileBytes;
        EXPECT_EQ(settings.backups, read ? 7u : Settings().backups);
        EXPECT_EQ(problems.size(), read ? 0u : 1u);
    }
    std::filesystem::remove(file);
}

}  // namespace
