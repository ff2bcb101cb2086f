#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <regex>
#include <string>
#include <vector>

#include "logging/LogApi.h"
#include "sdk/ProcAddress.h"
#include "tests/unit/TestThreads.h"
#include "tests/unit/support/HandleCount.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kError = LOG_SEVERITY_ERROR;
constexpr std::uint32_t kInfo = LOG_SEVERITY_INFO;

// One line of the log split into its fields; the text keeps its indentation.
struct LogLine {
    unsigned long threadId = 0;
    std::string severity;
    std::string module;
    std::string function;
    std::string text;
};

// Fails the test for a line that lacks the date, the time with milliseconds or a field.
LogLine Parse(const std::string& line) {
    static const std::regex format(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} +(\d+) +(\S+) +(\S+) +(\S+): (.*))");
    std::smatch field;
    if (!std::regex_match(line, field, format)) {
        ADD_FAILURE() << "not a log line: " << line;
        return {};
    }
    return {std::stoul(field[1]), field[2], field[3], field[4], field[5]};
}

// The lines of a log file without their CR LF; a final line without CR LF fails the test.
std::vector<std::string> ReadLines(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < bytes.size(); start = end + 2) {
        end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated line in " << path << ": " << bytes.substr(start);
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
    }
    return lines;
}

std::vector<std::string> Texts(const fs::path& log) {
    std::vector<std::string> texts;
    for (const std::string& line : ReadLines(log)) {
        texts.push_back(Parse(line).text);
    }
    return texts;
}

// Each test gets its own folder, build/tests/logdll/<test>, emptied first, with a copy of the
// shipped log.dll; the default log file there is named after this program.
class LogDll : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t program[MAX_PATH];
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        const fs::path tests = fs::path(program).parent_path();
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        folder = tests / "logdll" / name;
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::copy_file(tests.parent_path() / "bin" / "log.dll", folder / "log.dll");
    }
    void TearDown() override {
        Unload();
        EXPECT_EQ(GetModuleHandleW(L"log.dll"), nullptr) << "log.dll is still loaded";
    }

    void WriteSettings(const std::string& bytes) const {
        std::ofstream(folder / "log.ini", std::ios::binary) << bytes;
    }
    void Load() {
        library = LoadLibraryW((folder / "log.dll").c_str());
        ASSERT_NE(library, nullptr) << "error " << GetLastError();
        write = qv::GetProcAddressAs<LogWriteFunction>(library, "LogWrite");
    }
    void Unload() {
        FreeLibrary(library);
        library = nullptr;
    }

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
        return folder /
               (backup == 0 ? "log_dll_tests.log" : "log_dll_tests.log." + std::to_string(backup));
    }

    fs::path folder;
    HMODULE library = nullptr;
    LogWriteFunction write = nullptr;
};

// The text is indented by the writing thread's trace depth; a wide %s, and line breaks inside a
// text, stay on the line. UTF-8 at each length boundary; a lone surrogate becomes U+FFFD.
TEST_F(LogDll, LineShowsTimeThreadSeverityModuleFunctionAndIndentedText) {
    // The local time to the second, which sorts as text.
    const auto now = [] {
        SYSTEMTIME time;
        GetLocalTime(&time);
        char text[32];
        std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth,
                      time.wDay, time.wHour, time.wMinute, time.wSecond);
        return std::string(text);
    };
    const std::string before = now();
    Load();
    Write(LOG_DEPTH_ENTER, kInfo, L"Op", L"-> %s", L"Op()");
    Write(LOG_DEPTH_MESSAGE, kInfo, L"DeviceScanSP::OnDeviceArrival",
          L"Device Mounted [path = %s] [fullSize = %llu MB]",
          L"E:\\Ger\u00e4t \u20ac \u07ff\u0800\U0001F600\xDC00", 1234567890123ull);
    testing_support::FinishesWithin(testing_support::kStuckMs, [&] {
        Write(LOG_DEPTH_MESSAGE, kError, nullptr, L"first\r\nsecond");
    });
    Write(LOG_DEPTH_LEAVE, kInfo, L"Op", L"<- %s", L"Op()");
    Write(LOG_DEPTH_LEAVE, kInfo, L"Op", L"unmatched exit");
    Unload();
    const std::string after = now();

    EXPECT_EQ(Texts(Log()),
              (std::vector<std::string>{"-> Op()",
                                        "  Device Mounted [path = E:\\Ger\xC3\xA4t \xE2\x82\xAC "
                                        "\xDF\xBF\xE0\xA0\x80\xF0\x9F\x98\x80"
                                        "\xEF\xBF\xBD] [fullSize = 1234567890123 MB]",
                                        "first  second", "<- Op()", "unmatched exit"}))
        << "another thread starts at level 0, and an exit never goes below it";
    const auto lines = ReadLines(Log());
    ASSERT_EQ(lines.size(), 5u);
    const LogLine line = Parse(lines[1]);
    const LogLine other = Parse(lines[2]);
    EXPECT_EQ(line.threadId, GetCurrentThreadId());
    EXPECT_NE(other.threadId, line.threadId);
    EXPECT_EQ(line.severity, "INFO");
    EXPECT_EQ(other.severity, "ERROR");
    EXPECT_EQ(line.module, "log_dll_tests.exe");
    EXPECT_EQ(line.function, "DeviceScanSP::OnDeviceArrival");
    EXPECT_EQ(other.function, "-");
    EXPECT_LE(before, lines[0].substr(0, 19)) << "the line's local time";
    EXPECT_LE(lines[0].substr(0, 19), after) << "the line's local time";
}

// UTF-16 with its byte-order mark, a relative path into a directory still to be made, a level
// that drops an entry line whose depth still counts, and a depth limit that keeps the records
// at the limit and drops those one level deeper.
TEST_F(LogDll, SettingsFileChoosesPathLevelAndDepth) {
    const std::wstring text =
        L"; comment\r\n[log]\r\npath = \"logs\\\\out.log\"\r\nlevel = "
        L"warning\r\ndepth = 1\r\n";
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    WriteSettings(bytes);
    Load();
    EXPECT_EQ(Write(LOG_DEPTH_ENTER, kInfo, L"Op", L"-> Op()"), S_FALSE);
    EXPECT_EQ(Write(LOG_DEPTH_MESSAGE, kInfo, L"Op", L"info"), S_FALSE);
    EXPECT_EQ(Write(LOG_DEPTH_MESSAGE, kError, L"Op", L"error"), S_OK);
    EXPECT_EQ(Write(LOG_DEPTH_ENTER, kError, L"Inner", L"-> Inner()"), S_OK);
    EXPECT_EQ(Write(LOG_DEPTH_MESSAGE, kError, L"Inner", L"too deep"), S_FALSE);
    Unload();
    EXPECT_EQ(Texts(folder / "logs" / "out.log"),
              (std::vector<std::string>{"  error", "  -> Inner()"}));
}

// A buffered info line waits, while a warning or an error takes it and itself to the file at
// once, with the library still loaded.
TEST_F(LogDll, BufferedModeWritesWarningsAndErrorsAtOnce) {
    WriteSettings("flush = buffered\n");
    Load();
    const auto written = [&](std::uint32_t severity, const wchar_t* text) {
        Write(LOG_DEPTH_MESSAGE, severity, L"F", text);
        return Texts(Log());
    };
    EXPECT_EQ(written(kInfo, L"info"), std::vector<std::string>{});
    EXPECT_EQ(written(LOG_SEVERITY_WARNING, L"warning"),
              (std::vector<std::string>{"info", "warning"}));
    EXPECT_EQ(written(kInfo, L"later").size(), 2u);
    EXPECT_EQ(written(kError, L"error"),
              (std::vector<std::string>{"info", "warning", "later", "error"}));
}

// Every bad settings file still gives a working library with the defaults, writing to the
// default file and saying first what it could not use.
TEST_F(LogDll, BadSettingsFallBackToDefaultsAndAreReported) {
    for (const std::string& bytes :
         {std::string("level = loud\n"), std::string("max_size = 12\n"),
          std::string("path = Q:\\no\\such\\drive\\x.log\n"), std::string("path = <>|\"?*\n"),
          std::string("\x00\x01\xFF\xFE level = error", 18)}) {
        SCOPED_TRACE(bytes);
        WriteSettings(bytes);
        Load();
        EXPECT_EQ(Write(LOG_DEPTH_MESSAGE, kInfo, L"F", L"still written"), S_OK);
        Unload();
        const auto lines = ReadLines(Log());
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(Parse(lines.front()).severity, "WARNING");
        EXPECT_EQ(Parse(lines.front()).module, "log.dll");
        EXPECT_EQ(Parse(lines.back()).text, "still written");
        fs::remove(Log());
    }
}

TEST_F(LogDll, RotationKeepsFilesUnderMaxSizeAndDropsTheOldest) {
    WriteSettings("max_size = 2 KB\nbackups = 2\n");
    Load();
    for (int i = 0; i < 100; ++i) {
        Write(LOG_DEPTH_MESSAGE, kInfo, L"Writer", L"line %d %s", i,
              std::wstring(40, L'.').c_str());
    }
    Unload();
    EXPECT_FALSE(fs::exists(Log(3)));
    // The newest lines survive, consecutive, ending with the last one written.
    std::vector<int> numbers;
    for (int backup = 2; backup >= 0; --backup) {
        EXPECT_LE(fs::file_size(Log(backup)), 2048u) << backup;
        for (const std::string& text : Texts(Log(backup))) {
            numbers.push_back(std::atoi(text.c_str() + 5));
        }
    }
    ASSERT_GT(numbers.size(), 20u);
    std::vector<int> newest(numbers.size());
    std::iota(newest.begin(), newest.end(), 100 - static_cast<int>(numbers.size()));
    EXPECT_EQ(numbers, newest);
}

// Eight threads write at once, in each flush mode and across rotations; every line must arrive
// whole and in its thread's order.
class LogDllConcurrency : public LogDll, public ::testing::WithParamInterface<const char*> {};

TEST_P(LogDllConcurrency, EightThreadsWriteEveryLineWhole) {
    WriteSettings(GetParam());
    Load();
    constexpr int kThreads = 8;
    constexpr int kLines = 2000;
    const std::wstring padding(80, L'x');
    testing_support::RunThreadsTogether(kThreads, [&](int thread) {
        for (int line = 0; line < kLines; ++line) {
            const int length = (thread * 7 + line) % 80;
            Write(LOG_DEPTH_MESSAGE, kInfo, L"Writer", L"thread %d line %d %d %s", thread, line,
                  length, padding.c_str() + (80 - length));
        }
    });
    Unload();

    std::vector<int> nextLine(kThreads, 0);
    for (int backup = 100; backup >= 0; --backup) {
        for (const std::string& text : Texts(Log(backup))) {
            int thread = -1, number = -1, length = -1;
            char payload[128] = "";
            ASSERT_GE(std::sscanf(text.c_str(), "thread %d line %d %d %127s", &thread, &number,
                                  &length, payload),
                      3)
                << text;
            ASSERT_TRUE(thread >= 0 && thread < kThreads) << text;
            EXPECT_EQ(number, nextLine[thread]++) << text;
            EXPECT_EQ(std::string(payload), std::string(static_cast<std::size_t>(length), 'x'));
        }
    }
    EXPECT_EQ(nextLine, std::vector<int>(kThreads, kLines)) << "lines were lost";
}

INSTANTIATE_TEST_SUITE_P(FlushModes, LogDllConcurrency,
                         ::testing::Values("flush = line\nmax_size = 0\n",
                                           "flush = buffered\nmax_size = 256 KB\nbackups = 100\n"),
                         [](const auto& info) -> std::string {
                             return info.index == 0 ? "EachLine" : "BufferedAndRotating";
                         });

// Each load starts every thread at level 0 again, so every entry line shows unindented.
TEST_F(LogDll, ThousandLoadUnloadCyclesLoseNoLineAndLeakNoHandle) {
    std::vector<std::string> written;
    const auto cycle = [&] {
        Load();
        qv::GetProcAddressAs<LogInitFunction>(library, "LogInit")();
        Write(LOG_DEPTH_ENTER, kInfo, L"Cycle", L"cycle %d", static_cast<int>(written.size()));
        written.push_back("cycle " + std::to_string(written.size()));
        qv::GetProcAddressAs<LogDeinitFunction>(library, "LogDeinit")();
        Unload();
        ASSERT_EQ(GetModuleHandleW(L"log.dll"), nullptr) << "still loaded after " << written.size();
    };
    cycle();
    const long handlesBefore = support::ProcessHandleCount();
    while (written.size() < 1000 && !HasFatalFailure()) {
        cycle();
    }
    // A handle lost per cycle would show as a thousand.
    EXPECT_LT(support::ProcessHandleCount(), handlesBefore + 20);
    EXPECT_EQ(Texts(Log()), written);
}

}  // namespace
