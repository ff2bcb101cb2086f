#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "LogLibraryFixture.h"
#include "ThreadsTogether.h"

namespace {

using testing_support::Exists;
using testing_support::LogLibraryTest;
using testing_support::LogLine;
using testing_support::Parse;
using testing_support::ReadBytes;
using testing_support::ReadLines;

constexpr std::uint32_t kError = LOG_SEVERITY_ERROR;
constexpr std::uint32_t kWarning = LOG_SEVERITY_WARNING;
constexpr std::uint32_t kInfo = LOG_SEVERITY_INFO;

using LogDll = LogLibraryTest;

TEST_F(LogDll, ExportsEveryFunctionUnderItsPlainName) {
    Load();
    for (const char* name :
         {"LogInit", "LogDeinit", "LogWrite", "LogUninitTelemetry", "LogRemoveModule",
          "LogApplySettings", "LogSetSettingsFile", "LogEnable", "LogSetLevel", "LogSetPath",
          "LogSetType", "LogSetMode", "LogSetMaxSize", "LogSetDepth", "LogIsEnabled",
          "LogMonitorSettings", "LogGetLevel", "LogTrackEvent", "LogTrackEventData"}) {
        EXPECT_NE(GetProcAddress(library->Module(), name), nullptr) << name;
    }
}

TEST_F(LogDll, LineShowsLocalTimeThreadSeverityModuleFunctionAndWideText) {
    Load();
    library->init();
    SYSTEMTIME before;
    GetLocalTime(&before);
    EXPECT_EQ(library->Write(LOG_DEPTH_MESSAGE, kInfo, L"DeviceScanSP::OnDeviceArrival",
                             L"Device Mounted [path = %s] [remote = %s] [type = %d] "
                             L"[fullSize = %llu MB] [storedSize = %llu MB]",
                             L"E:\\", L"\\\\server\\share", 2, 1234567890123ull, 0ull),
              S_OK);
    library->deinit();

    const auto lines = ReadLines(DefaultLog());
    ASSERT_EQ(lines.size(), 1u);
    const LogLine line = Parse(lines[0]);
    char today[16];
    std::snprintf(today, sizeof(today), "%04u-%02u-%02u", before.wYear, before.wMonth, before.wDay);
    EXPECT_EQ(line.date, today);  // (fails only when run across midnight)
    EXPECT_EQ(line.threadId, GetCurrentThreadId());
    EXPECT_EQ(line.severity, "INFO");
    EXPECT_EQ(line.module, "log_dll_tests.exe");
    EXPECT_EQ(line.function, "DeviceScanSP::OnDeviceArrival");
    EXPECT_EQ(line.text,
              "Device Mounted [path = E:\\] [remote = \\\\server\\share] [type = 2] "
              "[fullSize = 1234567890123 MB] [storedSize = 0 MB]");
}

TEST_F(LogDll, SeveritiesHaveNamesAndUnknownOnesShowTheirValue) {
    Load();
    library->setLevel(LOG_LEVEL_ALL);
    for (std::uint32_t severity : {kError, kWarning, kInfo, LOG_SEVERITY_DEBUG, 0x10u}) {
        library->Write(LOG_DEPTH_MESSAGE, severity, L"F", L"text");
    }
    Unload();
    std::vector<std::string> names;
    for (const std::string& line : ReadLines(DefaultLog())) {
        names.push_back(Parse(line).severity);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ERROR", "WARNING", "INFO", "DEBUG", "0x10"}));
}

TEST_F(LogDll, TextIsUtf8AndLineBreaksInsideItStayOnOneLine) {
    Load();
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"%s", L"Ger\u00e4t \u20ac \U0001F600");
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"first\r\nsecond\nthird");
    Unload();
    const auto lines = ReadLines(DefaultLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Parse(lines[0]).text, "Ger\xC3\xA4t \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(Parse(lines[1]).text, "first  second third");
}

TEST_F(LogDll, LongTextIsWrittenWhole) {
    Load();
    const std::wstring text(5000, L'y');
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"<%s>", text.c_str());
    Unload();
    const auto lines = ReadLines(DefaultLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Parse(lines[0]).text, "<" + std::string(5000, 'y') + ">");
}

TEST_F(LogDll, EachThreadsTraceDepthIndentsItsOwnLines) {
    Load();
    library->Write(LOG_DEPTH_ENTER, kInfo, L"A", L"-> %s", L"A()");
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"A", L"in A");
    library->Write(LOG_DEPTH_ENTER, kInfo, L"B", L"-> %s", L"B()");
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"B", L"in B");
    // Another thread starts at its own level 0.
    testing_support::RunThreadsTogether(
        1, [&](int) { library->Write(LOG_DEPTH_MESSAGE, kInfo, L"T", L"other thread"); }, 10000);
    library->Write(LOG_DEPTH_LEAVE, kInfo, L"B", L"<- %s [%d]", L"B()", 0);
    library->Write(LOG_DEPTH_LEAVE, kInfo, L"A", L"<- %s [%d]", L"A()", 3);
    // An unmatched exit does not go below level 0.
    library->Write(LOG_DEPTH_LEAVE, kInfo, L"A", L"<- %s [%d]", L"A()", 3);
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"C", L"after");
    Unload();

    std::vector<std::string> texts;
    for (const std::string& line : ReadLines(DefaultLog())) {
        texts.push_back(Parse(line).text);
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{"-> A()", "  in A", "  -> B()", "    in B", "other thread",
                                        "  <- B() [0]", "<- A() [3]", "<- A() [3]", "after"}));
}

TEST_F(LogDll, LevelFilterDropsLessSevereRecordsButTracksTheirDepth) {
    WriteSettings("level = warning\n");
    Load();
    EXPECT_EQ(library->getLevel(), kWarning);
    EXPECT_EQ(library->Write(LOG_DEPTH_ENTER, kInfo, L"Op", L"-> Op()"), S_FALSE);
    EXPECT_EQ(library->Write(LOG_DEPTH_MESSAGE, kError, L"Op", L"error"), S_OK);
    EXPECT_EQ(library->Write(LOG_DEPTH_MESSAGE, kWarning, L"Op", L"warning"), S_OK);
    EXPECT_EQ(library->Write(LOG_DEPTH_MESSAGE, kInfo, L"Op", L"info"), S_FALSE);
    library->setLevel(kInfo);
    EXPECT_EQ(library->getLevel(), kInfo);
    EXPECT_EQ(library->Write(LOG_DEPTH_MESSAGE, kInfo, L"Op", L"info now"), S_OK);
    library->enable(FALSE);
    EXPECT_FALSE(library->isEnabled());
    EXPECT_EQ(library->Write(LOG_DEPTH_MESSAGE, kError, L"Op", L"disabled"), S_FALSE);
    Unload();

    std::vector<std::string> texts;
    for (const std::string& line : ReadLines(DefaultLog())) {
        texts.push_back(Parse(line).text);
    }
    // The filtered entry line still moved the depth: the messages are inside Op.
    EXPECT_EQ(texts, (std::vector<std::string>{"  error", "  warning", "  info now"}));
}

// Lines "line <n>" of about 100 bytes each, from every file of a rotated log, oldest first.
std::vector<int> LineNumbersAcrossFiles(const std::vector<std::vector<std::string>>& files) {
    std::vector<int> numbers;
    for (auto file = files.rbegin(); file != files.rend(); ++file) {
        for (const std::string& line : *file) {
            int number = -1;
            std::sscanf(Parse(line).text.c_str(), "line %d", &number);
            numbers.push_back(number);
        }
    }
    return numbers;
}

class LogDllRotation : public LogLibraryTest {
  protected:
    std::vector<std::string> Lines(int backup) const {
        return ReadLines(backup == 0 ? DefaultLog()
                                     : DefaultLog() + L"." + std::to_wstring(backup));
    }
};

TEST_F(LogDllRotation, KeepsFilesUnderMaxSizeAndDropsTheOldest) {
    WriteSettings("max_size = 2 KB\nbackups = 2\n");
    Load();
    const std::wstring padding(40, L'.');
    for (int i = 0; i < 100; ++i) {
        library->Write(LOG_DEPTH_MESSAGE, kInfo, L"Writer", L"line %d %s", i, padding.c_str());
    }
    Unload();

    EXPECT_FALSE(Exists(DefaultLog() + L".3"));
    std::vector<std::vector<std::string>> files;
    for (int backup = 0; backup <= 2; ++backup) {
        const std::wstring path =
            backup == 0 ? DefaultLog() : DefaultLog() + L"." + std::to_wstring(backup);
        EXPECT_LE(ReadBytes(path).size(), 2048u) << backup;
        files.push_back(Lines(backup));
        EXPECT_FALSE(files.back().empty()) << backup;
    }
    // The newest lines survive, consecutive, ending with the last one written.
    const std::vector<int> numbers = LineNumbersAcrossFiles(files);
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.back(), 99);
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "gap before line " << numbers[i];
    }
}

TEST_F(LogDllRotation, WithoutBackupsTheFileStartsAgain) {
    WriteSettings("max_size = 1 KB\nbackups = 0\n");
    Load();
    for (int i = 0; i < 50; ++i) {
        library->Write(LOG_DEPTH_MESSAGE, kInfo, L"Writer", L"line %d %s", i, L"..........");
    }
    Unload();
    EXPECT_FALSE(Exists(DefaultLog() + L".1"));
    EXPECT_LE(ReadBytes(DefaultLog()).size(), 1024u);
    const std::vector<int> numbers = LineNumbersAcrossFiles({Lines(0)});
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.back(), 49);
}

// Eight threads write at once, in each flush mode and across rotations; every line must arrive
// whole and in its thread's order.
class LogDllConcurrency : public LogLibraryTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(LogDllConcurrency, EightThreadsWriteEveryLineWhole) {
    WriteSettings(GetParam());
    Load();
    constexpr int kThreads = 8;
    constexpr int kLines = 2000;
    const std::wstring padding(80, L'x');
    testing_support::RunThreadsTogether(
        kThreads,
        [&](int thread) {
            for (int line = 0; line < kLines; ++line) {
                const int length = (thread * 7 + line) % 80;
                library->Write(LOG_DEPTH_MESSAGE, kInfo, L"Writer", L"thread %d line %d %d %s",
                               thread, line, length, padding.c_str() + (80 - length));
            }
        },
        120000);
    Unload();

    std::vector<std::string> all;
    for (int backup = 100; backup >= 0; --backup) {
        const std::wstring path =
            backup == 0 ? DefaultLog() : DefaultLog() + L"." + std::to_wstring(backup);
        const auto lines = ReadLines(path);
        all.insert(all.end(), lines.begin(), lines.end());
    }
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kLines));
    std::vector<int> nextLine(kThreads, 0);
    for (const std::string& line : all) {
        int thread = -1;
        int number = -1;
        int length = -1;
        char payload[128] = "";
        const std::string text = Parse(line).text;
        ASSERT_GE(std::sscanf(text.c_str(), "thread %d line %d %d %127s", &thread, &number, &length,
                              payload),
                  3)
            << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
        EXPECT_EQ(number, nextLine[thread]++) << line;
        EXPECT_EQ(std::string(payload), std::string(static_cast<std::size_t>(length), 'x')) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(FlushModes, LogDllConcurrency,
                         ::testing::Values("flush = line\nmax_size = 0\n",
                                           "flush = buffered\nmax_size = 256 KB\nbackups = 100\n"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? "EachLine" : "BufferedAndRotating";
                         });

// Handles the process holds, from the system's handle list (GetProcessHandleCount always
// answers 0 under Wine).
std::size_t ProcessHandleCount() {
    struct Entry {
        void* object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG access;
        USHORT creatorBackTraceIndex;
        USHORT typeIndex;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using QueryFunction = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG kExtendedHandleInformation = 64;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<unsigned char> buffer(1 << 20);
    LONG status = 0;
    while ((status = query(kExtendedHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), nullptr)) == kLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) {
        ADD_FAILURE() << "NtQuerySystemInformation: " << std::hex << status;
        return 0;
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    const ULONG_PTR self = GetCurrentProcessId();
    return static_cast<std::size_t>(
        std::count_if(table->entries, table->entries + table->count,
                      [self](const Entry& entry) { return entry.processId == self; }));
}

TEST_F(LogDll, ThousandLoadUnloadCyclesLoseNoLineAndLeakNoHandle) {
    const auto cycle = [&](int number) {
        Load();
        library->init();
        library->Write(LOG_DEPTH_ENTER, kInfo, L"Cycle", L"cycle %d", number);
        library->deinit();
        Unload();
    };
    cycle(0);
    const std::size_t handlesBefore = ProcessHandleCount();
    constexpr int kCycles = 1000;
    for (int i = 1; i < kCycles; ++i) {
        cycle(i);
        ASSERT_EQ(GetModuleHandleW(L"log.dll"), nullptr) << "still loaded after cycle " << i;
    }
    // A handle lost per cycle would show as a thousand.
    EXPECT_LT(ProcessHandleCount(), handlesBefore + 20);

    const auto lines = ReadLines(DefaultLog());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kCycles));
    for (int i = 0; i < kCycles; ++i) {
        // Each load starts every thread at level 0 again.
        EXPECT_EQ(Parse(lines[static_cast<std::size_t>(i)]).text, "cycle " + std::to_string(i));
    }
}

TEST_F(LogDll, BufferedLinesReachTheFileOnWarningsAndAtDeinit) {
    WriteSettings("flush = buffered\n");
    Load();
    library->init();
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"first");
    EXPECT_EQ(ReadLines(DefaultLog()).size(), 0u);
    library->Write(LOG_DEPTH_MESSAGE, kWarning, L"F", L"warning");
    EXPECT_EQ(ReadLines(DefaultLog()).size(), 2u);
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"last");
    library->deinit();
    EXPECT_EQ(ReadLines(DefaultLog()).size(), 3u);
}

TEST_F(LogDll, SettingsChoosePathLevelAndTypeInEitherEncoding) {
    // UTF-16 with its byte-order mark, a relative path into a directory still to be made.
    const std::wstring text =
        L"; comment\r\n[log]\r\npath = \"logs\\\\out.log\"\r\nlevel = error\r\n";
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : std::wstring(text)) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    WriteSettings(bytes);
    Load();
    library->Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"info");
    library->Write(LOG_DEPTH_MESSAGE, kError, L"F", L"error");
    Unload();
    EXPECT_FALSE(Exists(DefaultLog()));
    const auto lines = ReadLines(InFolder(L"logs\\out.log"));
    ASSERT_EQ(lines.size(), 1u) << "a settings problem was reported or the level was ignored";
    EXPECT_EQ(Parse(lines[0]).text, "error");
}

// Every bad settings file still gives a working library that writes to the default file and
// says what it could not use.
struct BadSettings {
    const char* name;
    std::string bytes;
};

class LogDllBadSettings : public LogLibraryTest,
                          public ::testing::WithParamInterface<BadSettings> {};

TEST_P(LogDllBadSettings, FallBackToDefaultsAndAreReported) {
    WriteSettings(GetParam().bytes);
    Load();
    EXPECT_TRUE(library->isEnabled());
    EXPECT_EQ(library->getLevel(), kInfo);
    EXPECT_EQ(library->Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"still written"), S_OK);
    Unload();
    const auto lines = ReadLines(DefaultLog());
    ASSERT_GE(lines.size(), 2u);
    const LogLine warning = Parse(lines.front());
    EXPECT_EQ(warning.severity, "WARNING");
    EXPECT_EQ(warning.module, "log.dll");
    EXPECT_EQ(Parse(lines.back()).text, "still written");
}

INSTANTIATE_TEST_SUITE_P(
    Files, LogDllBadSettings,
    ::testing::Values(BadSettings{"UnknownLevel", "level = loud\n"},
                      BadSettings{"LevelBeyond32Bits", "level = 0x1FFFFFFFF\n"},
                      BadSettings{"NotABoolean", "enabled = maybe\n"},
                      BadSettings{"NegativeSize", "max_size = -5\n"},
                      BadSettings{"TinySize", "max_size = 12\n"},
                      BadSettings{"OverflowingSize", "max_size = 99999999999999999999 GB\n"},
                      BadSettings{"TooManyBackups", "backups = 1000\n"},
                      BadSettings{"UnknownFlush", "flush = sometimes\n"},
                      BadSettings{"UnknownType", "type = printer\n"},
                      BadSettings{"UnknownKey", "colour = blue\n"},
                      BadSettings{"NoSettingsAtAll", "just some words\n=\n==\n"},
                      BadSettings{"MissingDrive", "path = Q:\\no\\such\\drive\\x.log\n"},
                      BadSettings{"InvalidPath", "path = <>|\"?*\n"},
                      BadSettings{"BinaryGarbage",
                                  std::string("\x00\x01\x02\xFF\xFE\xFD level = error", 20)},
                      BadSettings{"HugeFile", std::string(70000, 'z')}),
    [](const ::testing::TestParamInfo<BadSettings>& info) { return info.param.name; });

TEST_F(LogDll, SettersChangeTheRunningLibraryAndRefuseBadValues) {
    Load();
    EXPECT_EQ(library->setMaxSize(10), E_INVALIDARG);
    EXPECT_EQ(library->setType(0), E_INVALIDARG);
    EXPECT_EQ(library->setType(0x8), E_INVALIDARG);
    EXPECT_EQ(library->setMode(7), E_INVALIDARG);
    std::uint32_t severity = kInfo;
    EXPECT_EQ(library->write(0, nullptr, nullptr, L"F", L"text", nullptr), E_POINTER);
    EXPECT_EQ(library->write(0, &severity, nullptr, L"F", nullptr, nullptr), E_POINTER);

    EXPECT_EQ(library->setPath(L"sub\\chosen.log"), S_OK);
    library->Write(LOG_DEPTH_MESSAGE, kInfo, nullptr, L"to the chosen file");
    EXPECT_EQ(library->trackEventData(L"DeviceMounted", L"E:\\"), S_OK);

    // Applying the settings again replaces what the setters did.
    WriteSettings("level = error\n");
    EXPECT_EQ(library->applySettings(), S_OK);
    EXPECT_EQ(library->getLevel(), kError);
    library->Write(LOG_DEPTH_MESSAGE, kError, L"F", L"to the default file");
    Unload();

    const auto chosen = ReadLines(InFolder(L"sub\\chosen.log"));
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(Parse(chosen[0]).function, "-");
    EXPECT_EQ(Parse(chosen[1]).function, "event");
    EXPECT_EQ(Parse(chosen[1]).module, "log_dll_tests.exe");
    EXPECT_EQ(Parse(chosen[1]).text, "DeviceMounted: E:\\");
    const auto defaults = ReadLines(DefaultLog());
    ASSERT_EQ(defaults.size(), 1u);
    EXPECT_EQ(Parse(defaults[0]).text, "to the default file");
}

}  // namespace
