#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "logging/LogApi.h"
#include "sdk/ProcAddress.h"
#include "sdk/ProcessCounters.h"
#include "sdk/ProgramDirectory.h"
#include "tests/support/TestThreads.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kError = LOG_SEVERITY_ERROR;
constexpr std::uint32_t kInfo = LOG_SEVERITY_INFO;

// One line of the log split into its fields; the text keeps its indentation.
struct LogLine {
    std::string time;  // local, to the second, which sorts as text
    unsigned long threadId = 0;
    std::string source;  // severity, module and function, one blank apart
    std::string text;
};

// The lines of a log file; fails the test for a line without its CR LF, the date, the time with
// milliseconds or a field.
std::vector<LogLine> ReadLog(const fs::path& path) {
    static const std::regex format(
        R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\.\d{3} +(\d+) +(\S+) +(\S+) +(\S+): (.*)\r)");
    std::ifstream file(path, std::ios::binary);
    std::vector<LogLine> lines;
    for (std::string line; std::getline(file, line);) {
        std::smatch field;
        if (file.eof() || !std::regex_match(line, field, format)) {
            ADD_FAILURE() << "not a whole log line in " << path << ": " << line;
            continue;
        }
        lines.push_back({field[1], std::stoul(field[2]),
                         field[3].str() + " " + field[4].str() + " " + field[5].str(), field[6]});
    }
    return lines;
}

std::vector<std::string> Texts(const fs::path& log) {
    std::vector<std::string> texts;
    std::ranges::transform(ReadLog(log), std::back_inserter(texts), &LogLine::text);
    return texts;
}

// Each test gets its own folder, build/tests/logdll/<test>, emptied first, with a copy of the
// shipped log.dll; the default log file there is named after this program.
class LogDll : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path tests = fs::path(qv::ProgramDirectory()).parent_path();
        folder = tests / "logdll" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::copy_file(tests.parent_path() / "bin" / "log.dll", folder / "log.dll");
    }
    void TearDown() override {
        Unload();
        EXPECT_EQ(GetModuleHandleW(L"log.dll"), nullptr) << "log.dll is still loaded";
    }

    // Loads the library, with settings written to log.ini beside it first unless empty.
    void Load(const std::string& settings = "") {
        if (!settings.empty()) {
            std::ofstream(folder / "log.ini", std::ios::binary) << settings;
        }
        library = LoadLibraryW((folder / "log.dll").c_str());
        ASSERT_NE(library, nullptr) << "error " << GetLastError();
        write = qv::GetProcAddressAs<LogWriteFunction>(library, "LogWrite");
    }
    void Unload() { FreeLibrary(std::exchange(library, nullptr)); }

    // One record written as this program, its arguments packed as LogWrite takes them.
    HRESULT Write(std::uint32_t depth, std::uint32_t severity, const wchar_t* function,
                  const wchar_t* format, ...) {
        va_list args;
        va_start(args, format);
        const HRESULT result =
            write(depth, &severity, GetModuleHandleW(nullptr), function, format, args);
        va_end(args);
        return result;
    }

    // The default log file, or its backup number n.
    fs::path Log(int backup = 0) const {
        return folder / ("log_dll_tests.log" + (backup ? "." + std::to_string(backup) : ""));
    }

    fs::path folder;
    HMODULE library = nullptr;
    LogWriteFunction write = nullptr;
};

// The text is indented by the writing thread's trace depth; a wide %s, and line breaks inside a
// text, stay on the line. UTF-8 at each length boundary; a lone surrogate, or a high one before
// a character that is not a low one, becomes U+FFFD.
TEST_F(LogDll, LineShowsTimeThreadSeverityModuleFunctionAndIndentedText) {
    const auto now = [] {
        char date[16], time[16];
        GetDateFormatA(LOCALE_INVARIANT, 0, nullptr, "yyyy-MM-dd", date, sizeof date);
        GetTimeFormatA(LOCALE_INVARIANT, 0, nullptr, "HH:mm:ss", time, sizeof time);
        return std::string(date) + " " + time;
    };
    const std::string before = now();
    Load();
    Write(LOG_DEPTH_ENTER, kInfo, L"Op", L"-> %s", L"Op()");
    Write(LOG_DEPTH_MESSAGE, kInfo, L"DeviceScanSP::OnDeviceArrival",
          L"Device Mounted [path = %s] [fullSize = %llu MB]",
          L"E:\\Ger\u00e4t \u20ac \u07ff\u0800\U0001F600\xDC00\uFFFF\U00010000\xD800\uE000",
          1234567890123ull);
    test_support::FinishesWithin(test_support::kStuckMs, [&] {
        Write(LOG_DEPTH_MESSAGE, kError, nullptr, L"first\r\nsecond");
    });
    Write(LOG_DEPTH_LEAVE, kInfo, L"Op", L"<- %s", L"Op()");
    Write(LOG_DEPTH_LEAVE, kInfo, L"Op", L"unmatched exit");
    Unload();
    const std::string after = now();

    ASSERT_EQ(Texts(Log()),
              (std::vector<std::string>{"-> Op()",
                                        "  Device Mounted [path = E:\\Ger\xC3\xA4t \xE2\x82\xAC "
                                        "\xDF\xBF\xE0\xA0\x80\xF0\x9F\x98\x80"
                                        "\xEF\xBF\xBD\xEF\xBF\xBF\xF0\x90\x80\x80"
                                        "\xEF\xBF\xBD\xEE\x80\x80"
                                        "] [fullSize = 1234567890123 MB]",
                                        "first  second", "<- Op()", "unmatched exit"}))
        << "another thread starts at level 0, and an exit never goes below it";
    const auto lines = ReadLog(Log());
    EXPECT_EQ(lines[1].source, "INFO log_dll_tests.exe DeviceScanSP::OnDeviceArrival");
    EXPECT_EQ(lines[2].source, "ERROR log_dll_tests.exe -");
    EXPECT_EQ(lines[1].threadId, GetCurrentThreadId());
    EXPECT_NE(lines[2].threadId, lines[1].threadId);
    EXPECT_TRUE(before <= lines[0].time && lines[0].time <= after) << lines[0].time;
}

// From a UTF-16 settings file with its byte-order mark: a relative path into a directory still
// to be made; a level that drops a record above it, an entry line among them, whose depth still
// counts; a depth limit that keeps the records at the limit and drops those one level deeper;
// buffered lines that wait, while a warning or an error takes them and itself to the file at
// once, with the library still loaded. Being monitored, the file is applied again within about a
// second of a change.
TEST_F(LogDll, MonitoredSettingsFileChoosesPathLevelDepthAndFlushing) {
    const std::wstring text =
        L"; comment\r\n[log]\r\npath = \"logs\\\\out.log\"\r\nlevel = debug\r\n"
        L"depth = 1\r\nflush = buffered\r\nmonitor = on\r\n";
    Load("\xFF\xFE" +  // wchar_t is UTF-16LE here
         std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    const fs::path log = folder / "logs" / "out.log";
    EXPECT_EQ(Write(LOG_DEPTH_ENTER, 0x80, L"Op", L"-> Op()"), S_FALSE);
    EXPECT_EQ(Write(LOG_DEPTH_MESSAGE, LOG_SEVERITY_DEBUG, L"Op", L"debug"), S_OK);
    EXPECT_EQ(Texts(log), std::vector<std::string>{});
    EXPECT_EQ(Write(LOG_DEPTH_MESSAGE, LOG_SEVERITY_WARNING, L"Op", L"warning"), S_OK);
    EXPECT_EQ(Texts(log), (std::vector<std::string>{"  debug", "  warning"}));
    EXPECT_EQ(Write(LOG_DEPTH_ENTER, kInfo, L"Inner", L"-> Inner()"), S_OK);
    EXPECT_EQ(Write(LOG_DEPTH_MESSAGE, kError, L"Inner", L"too deep"), S_FALSE);
    EXPECT_EQ(Write(LOG_DEPTH_LEAVE, kError, L"Inner", L"<- Inner()"), S_OK);
    EXPECT_EQ(Texts(log),
              (std::vector<std::string>{"  debug", "  warning", "  -> Inner()", "  <- Inner()"}));

    std::ofstream(folder / "log.ini", std::ios::binary) << "monitor = on\nlevel = error\n";
    HRESULT result = S_OK;
    for (int poll = 0; poll < 50 && result == S_OK; ++poll) {
        Sleep(100);
        result = Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"after");
    }
    EXPECT_EQ(result, S_FALSE) << "an information line still written at level error";
}

// Every bad settings file still gives a working library with the defaults, writing to the
// default file and saying first what it could not use: a bad value (the reader's own cases are
// the settings fuzzer's), a path on no drive (B:, a letter no test plugs: the end-to-end tests
// plug others, Q: among them, while this runs) and a path no file system takes.
TEST_F(LogDll, BadSettingsFallBackToDefaultsAndAreReported) {
    for (const char* bytes :
         {"level = loud\n", "path = B:\\no\\such\\drive\\x.log\n", "path = <>|\"?*\n"}) {
        SCOPED_TRACE(bytes);
        Load(bytes);
        EXPECT_EQ(Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"still written"), S_OK);
        Unload();
        const auto lines = ReadLog(Log());
        ASSERT_GE(lines.size(), 2u);
        EXPECT_TRUE(lines.front().source.starts_with("WARNING log.dll ")) << lines.front().source;
        EXPECT_EQ(lines.back().text, "still written");
        fs::remove(Log());
    }
}

// Rotation with backups, and without them, where the full file simply starts again.
TEST_F(LogDll, RotationKeepsFilesUnderMaxSizeAndDropsTheOldest) {
    for (const int backups : {2, 0}) {
        Load("max_size = 2 KB\nbackups = " + std::to_string(backups) + "\n");
        const std::string dots(40, '.');
        for (int i = 0; i < 100; ++i) {
            Write(LOG_DEPTH_MESSAGE, kInfo, L"Writer", L"line %d %hs", i, dots.c_str());
        }
        Unload();
        EXPECT_FALSE(fs::exists(Log(backups + 1)));
        // The newest lines survive, consecutive, ending with the last one written.
        std::vector<std::string> texts;
        for (int backup = backups; backup >= 0; --backup) {
            EXPECT_LE(fs::file_size(Log(backup)), 2048u) << backup;
            std::ranges::copy(Texts(Log(backup)), std::back_inserter(texts));
            fs::remove(Log(backup));
        }
        ASSERT_GT(texts.size(), 10u * (backups + 1));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i], "line " + std::to_string(100 - texts.size() + i) + " " + dots);
        }
    }
}

// Buffered lines wait for one of their occasions: the oldest a second old (seen by the next
// write), the last LogDeinit with the library still loaded, or 64 KB gathered.
TEST_F(LogDll, BufferedLinesGoOutWhenOldAtTheLastDeinitAndAt64KB) {
    Load("flush = buffered\nmax_size = 0\n");
    const auto init = qv::GetProcAddressAs<LogInitFunction>(library, "LogInit");
    const auto deinit = qv::GetProcAddressAs<LogDeinitFunction>(library, "LogDeinit");
    init();
    init();
    Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"first");
    EXPECT_EQ(Texts(Log()).size(), 0u);
    Sleep(1100);
    Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"second");
    EXPECT_EQ(Texts(Log()), (std::vector<std::string>{"first", "second"}));
    Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"third");
    deinit();
    EXPECT_EQ(Texts(Log()).size(), 2u) << "one LogInit still holds the library";
    deinit();
    EXPECT_EQ(Texts(Log()).size(), 3u);
    const std::wstring padding(1000, L'p');  // about 1070 bytes a line
    const ULONGLONG start = GetTickCount64();
    int lines = 0;
    for (; Texts(Log()).size() == 3 && lines < 100; ++lines) {
        Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"%s", padding.c_str());
    }
    // A loop slowed past a second (heap validation) sees the age's flush before the size's.
    EXPECT_TRUE((lines >= 55 && lines <= 66) || GetTickCount64() - start >= 1000)
        << lines << " lines went out together";
}

// Eight threads write at once, in each flush mode and across rotations; every line must arrive
// whole and in its thread's order.
TEST_F(LogDll, EightThreadsWriteEveryLineWholeInEachFlushMode) {
    for (const char* settings :
         {"flush = line\nmax_size = 0\n", "flush = buffered\nmax_size = 256 KB\nbackups = 100\n"}) {
        SCOPED_TRACE(settings);
        Load(settings);
        constexpr int kThreads = 8, kLines = 2000;
        const std::wstring padding(80, L'x');
        test_support::RunThreadsTogether(kThreads, [&](int thread) {
            for (int line = 0; line < kLines; ++line) {
                const int length = (thread * 7 + line) % 80;
                Write(LOG_DEPTH_MESSAGE, kInfo, L"Writer", L"thread %d line %d %d %s", thread, line,
                      length, padding.c_str() + (80 - length));
            }
        });
        Unload();
        const std::regex record(R"(thread ([0-7]) line (\d+) (\d+) (x*))");
        std::vector<int> nextLine(kThreads, 0);
        for (int backup = 100; backup >= 0; --backup) {
            for (const std::string& text : Texts(Log(backup))) {
                std::smatch field;
                ASSERT_TRUE(std::regex_match(text, field, record)) << text;
                EXPECT_EQ(std::stoi(field[2]), nextLine[std::stoi(field[1])]++) << text;
                EXPECT_EQ(field[4].length(), std::stoi(field[3])) << text;
            }
            fs::remove(Log(backup));
        }
        EXPECT_EQ(nextLine, std::vector<int>(kThreads, kLines)) << "lines were lost";
    }
}

// Each load starts every thread at level 0 again, so every entry line shows unindented.
TEST_F(LogDll, ThousandLoadUnloadCyclesLoseNoLineAndLeakNoHandle) {
    std::vector<std::string> written;
    long handles = 0;
    for (int cycle = 0; cycle < 1000; ++cycle) {
        // Counted after the first cycle, which sets up what stays for the process.
        handles = cycle == 1 ? QvProcessHandleCount() : handles;
        Load();
        qv::GetProcAddressAs<LogInitFunction>(library, "LogInit")();
        Write(LOG_DEPTH_ENTER, kInfo, L"Cycle", L"cycle %d", cycle);
        written.push_back("cycle " + std::to_string(cycle));
        qv::GetProcAddressAs<LogDeinitFunction>(library, "LogDeinit")();
        Unload();
    }
    // A handle lost per cycle would show as a thousand.
    EXPECT_LT(QvProcessHandleCount(), handles + 20);
    EXPECT_EQ(Texts(Log()), written);
}

}  // namespace
