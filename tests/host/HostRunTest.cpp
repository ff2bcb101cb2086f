// devicescan-host.exe run as a child process against the fake service module (FakeService.cpp),
// its output, exit code and the calls it made checked.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "scan/EicarCheck.h"
#include "sdk/Utf8.h"
#include "tests/host/HostProcess.h"
#include "tests/host/TempTree.h"

namespace {

using qv::ToUtf8;

constexpr const char* kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";  // of "abc"

std::atomic<int> counter{0};

std::wstring Unique(const wchar_t* what) {
    return L"dshost-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) +
           L"-" + what;
}

int IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    const auto found = std::find(lines.begin(), lines.end(), line);
    return found == lines.end() ? -1 : static_cast<int>(found - lines.begin());
}

bool AnyLineStartsWith(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// A named event the test sets to let the fake's script go on past a "wait" line.
class Go {
  public:
    Go() : name(Unique(L"go")), event(CreateEventW(nullptr, TRUE, FALSE, name.c_str())) {}
    ~Go() { CloseHandle(event); }
    void Set() const { SetEvent(event); }
    std::string Line() const { return "wait " + ToUtf8(name) + "\n"; }

  private:
    std::wstring name;
    HANDLE event;
};

class HostRun : public ::testing::Test {
  protected:
    void TearDown() override { SetEnvironmentVariableW(L"FAKE_SERVICE_SCRIPT", nullptr); }

    // Starts the host on the fake, which plays script; a later --module in args wins.
    bool Launch(const std::string& script, std::vector<std::wstring> args = {}) {
        SetEnvironmentVariableW(L"FAKE_SERVICE_SCRIPT", qv::FromUtf8(script).c_str());
        args.insert(args.begin(), {L"--module", FakeModule()});
        return host.Launch(args);
    }

    void Quit() {
        host.Send("quit\n");
        ASSERT_EQ(host.WaitForExit(), 0u);
        EXPECT_EQ(host.OutLines().back(), "stopped (quit)");
    }

    static std::wstring FakeModule() {
        return HostProcess::TestDirectory() + L"\\fake-service.dll";
    }

    // The fake's calls and the host's own messages share stderr.
    std::vector<std::string> Calls(bool fake = true) const {
        std::vector<std::string> lines;
        for (const std::string& line : host.ErrLines()) {
            if ((line.rfind("fake: ", 0) == 0) == fake) {
                lines.push_back(fake ? line.substr(6) : line);
            }
        }
        return lines;
    }

    TempTree temp;
    HostProcess host;
};

TEST_F(HostRun, PrintsEveryMountAndRemovalFromProducerAndListenerAndScansTheVolume) {
    // 4 files of 1017 bytes in 8 directories, one of them empty, the deepest file beyond MAX_PATH.
    temp.Add(L"volume\\a.txt", 10);
    temp.Add(L"volume\\sub\\b.bin", 1000);
    temp.Add(L"volume\\sub\\deeper\\c", 0);
    temp.Add(L"volume\\empty\\");
    std::wstring deep = L"volume";
    for (int level = 0; level < 5; ++level) {
        deep += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + level));
    }
    temp.Add(deep + L"\\deep.txt", 7);
    ASSERT_GT(temp.Path(deep).size(), static_cast<std::size_t>(MAX_PATH));

    const std::string volume = ToUtf8(temp.Path(L"volume"));
    const std::string missing = ToUtf8(temp.Path(L"not-there"));
    const Go go;
    ASSERT_TRUE(Launch("mount local " + volume + "\nremote \\\\server\\share\nmount remote " +
                       missing + "\n" + go.Line() + "unmount " + volume + "\n"));
    ASSERT_TRUE(host.WaitForLine({"scan finished " + volume + " "}));
    ASSERT_TRUE(host.WaitForLine({"scan failed " + missing + " "}));
    go.Set();
    ASSERT_TRUE(host.WaitForLine({"unmounted " + volume, "[listener]"}));
    Quit();

    const auto out = host.OutLines();
    const std::string details = " fullSize=16777216 storedSize=4096 sessionId=1";
    const int producerMount =
        IndexOf(out, "mounted " + volume + " type=local" + details + " [producer]");
    EXPECT_GE(producerMount, 0);
    EXPECT_GT(IndexOf(out, "mounted " + volume + " type=local" + details + " [listener]"),
              producerMount)
        << "the producer hears of a mount first";
    EXPECT_GE(IndexOf(out, "mounted " + missing + " type=remote remote=\\\\server\\share" +
                               details + " [listener]"),
              0);
    EXPECT_GE(IndexOf(out, "scan finished " + volume +
                               " files=4 directories=8 bytes=1017 errors=0 threats=0 hashed=0"),
              0);
    EXPECT_TRUE(AnyLineStartsWith(out, "scan failed " + missing + " error=3"));
    EXPECT_GE(IndexOf(out, "unmounted " + volume + " type=local" + details + " [producer]"), 0);
    EXPECT_TRUE(AnyLineStartsWith(out, "started FileScan.OnDemand.DeviceScanSP ("));
    EXPECT_EQ(Calls(false), std::vector<std::string>{});

    const std::vector<std::string> expected = {"create",     "register", "init",    "acquired",
                                               "start",      "stop",     "uninit",  "released",
                                               "unregister", "destroy",  "unloaded"};
    EXPECT_EQ(Calls(), expected);
}

// Independent of the host's own escaping: backslashes doubled, quotes escaped, é as \u00e9.
std::string JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (const wchar_t c : text) {
        if (c == L'\u00e9') {
            out += "\\u00e9";
            continue;
        }
        if (c == L'\\' || c == L'"') {
            out += '\\';
        }
        out += static_cast<char>(c);
    }
    return out + "\"";
}

TEST_F(HostRun, JsonLinesCarryEveryFieldWithPathsEscaped) {
    temp.Add(L"caf\u00e9 volume\\one", 5);
    const std::wstring volume = temp.Path(L"caf\u00e9 volume");
    ASSERT_TRUE(Launch("remote \\\\srv\\it's \"quoted\"\nmount cdrom " + ToUtf8(volume) + "\n",
                       {L"--json"}));
    ASSERT_TRUE(host.WaitForLine({"\"state\":\"finished\""}));
    host.CloseInput();
    ASSERT_EQ(host.WaitForExit(), 0u);

    const auto out = host.OutLines();
    const std::string path = JsonString(volume);
    const std::string device = ",\"path\":" + path +
                               R"(,"type":"cdrom","remote":"\\\\srv\\it's \"quoted\"",)"
                               R"("fullSize":16777216,"storedSize":4096,"sessionId":1})";
    EXPECT_GE(IndexOf(out, R"({"event":"mounted","source":"producer")" + device), 0);
    EXPECT_GE(IndexOf(out, R"({"event":"mounted","source":"listener")" + device), 0);
    EXPECT_GE(IndexOf(out, R"({"event":"scan","state":"finished","path":)" + path +
                               R"(,"files":1,"directories":0,"bytes":5,"errors":0,)"
                               R"("threats":0,"hashedBytes":0})"),
              0);
    EXPECT_GE(IndexOf(out, R"({"event":"started","object":"FileScan.OnDemand.DeviceScanSP",)"
                           R"("module":)" +
                               JsonString(FakeModule()) + R"(,"signatures":0,"databases":0})"),
              0);
    EXPECT_EQ(out.back(), R"({"event":"stopped","reason":"end-of-input"})");
    for (const std::string& line : out) {
        EXPECT_TRUE(line.front() == '{' && line.back() == '}') << line;
    }
}

// Two volumes scanned at once, each pausing a minute after each file. A removal heard while the
// first still answers as it did leaves its scan running, with a warning; once the folder is
// really gone, the next removal cancels that scan, and quitting cancels the other.
TEST_F(HostRun, OnlyARealRemovalCancelsThatVolumesScanAndStoppingCancelsTheRest) {
    for (const wchar_t* file :
         {L"stick\\first\\a", L"stick\\first\\b", L"second\\a", L"second\\b"}) {
        temp.Add(file, 1);
    }
    const std::string first = ToUtf8(temp.Path(L"stick\\first"));
    const std::string second = ToUtf8(temp.Path(L"second"));
    const Go spoofed;
    const Go real;
    ASSERT_TRUE(Launch("mount local " + first + "\nmount local " + second + "\n" + spoofed.Line() +
                           "unmount " + first + "\n" + real.Line() + "unmount " + first + "\n",
                       {L"--progress", L"1", L"--scan-pause", L"60000", L"--scan-threads", L"2"}));
    ASSERT_TRUE(host.WaitForLine({"scan progress " + first + " files=1 "}));
    ASSERT_TRUE(host.WaitForLine({"scan progress " + second + " files=1 "}));
    spoofed.Set();
    ASSERT_TRUE(host.WaitForLine({"warning " + first + " removal-not-confirmed"}));
    // The scan holds the folder itself open, so its parent goes: the path no longer answers.
    ASSERT_TRUE(MoveFileW(temp.Path(L"stick").c_str(), temp.Path(L"gone").c_str()));
    real.Set();
    ASSERT_TRUE(host.WaitForLine({"scan cancelled " + first + " files=1 ", "(volume removed)"}));
    Quit();

    const auto out = host.OutLines();
    EXPECT_EQ(out[out.size() - 2], "scan cancelled " + second +
                                       " files=1 directories=0 bytes=1 errors=0 threats=0 "
                                       "hashed=0 (host stopping)");
    EXPECT_FALSE(AnyLineStartsWith(out, "scan finished"));
    EXPECT_EQ(Calls(false), std::vector<std::string>{}) << "the workers ended within their bound";
}

// --scan runs without the module and exits as command-line scanners do: 0 clean, 1 found, 2 error.
TEST_F(HostRun, ScanOfFoldersReportsEveryThreatAndExitsWithWhatItFound) {
    temp.Write(L"db\\test.hdb", std::string(kAbcMd5) + ":3:Test.Abc\n");
    temp.Write(L"dirty\\abc.bin", "abc");
    temp.Write(L"dirty\\sub\\test-file.com", devicescan::scan::EicarCheck::Text());
    temp.Write(L"clean\\abd.bin", "abd");
    const std::wstring db = temp.Path(L"db");
    const struct {
        std::wstring path;
        DWORD exitCode;
    } runs[] = {{temp.Path(L"clean"), 0}, {temp.Path(L"dirty"), 1}, {temp.Path(L"absent"), 2}};
    for (const auto& run : runs) {
        HostProcess scan;
        ASSERT_TRUE(scan.Launch({L"--db", db, L"--scan", run.path}));
        EXPECT_EQ(scan.WaitForExit(), run.exitCode) << ToUtf8(run.path);
        if (run.exitCode != 1) {
            continue;
        }
        const std::string dirty = ToUtf8(run.path);
        const auto out = scan.OutLines();
        EXPECT_GE(IndexOf(out, "threat " + dirty + "\\abc.bin Test.Abc md5=" + kAbcMd5), 0);
        EXPECT_TRUE(AnyLineStartsWith(
            out, "threat " + dirty + "\\sub\\test-file.com EICAR-Test-File sha256="));
        EXPECT_EQ(out.back(), "scan finished " + dirty +
                                  " files=2 directories=1 bytes=71 errors=0 threats=2 hashed=71");
    }
}

// How the host ends when it cannot run the service: its exit code, a reason on stderr, and the
// last calls to the fake, which show what it cleaned up.
struct Failure {
    const char* name;
    std::wstring args;  // split at blanks; TEMP\ and BIN\ stand for those directories
    const char* script;
    DWORD exitCode;
    const char* message;  // a regular expression
    const char* calls;
};

void PrintTo(const Failure& failure, std::ostream* out) {
    *out << failure.name;
}

const Failure kFailures[] = {
    {"UnknownOption", L"--frobnicate", "", 2, "unknown option --frobnicate", ""},
    {"BadNumber", L"--seconds soon", "", 2, "--seconds needs a whole number", ""},
    {"MissingModule", L"--module TEMP\\absent.dll", "", 3, R"(absent\.dll": 126 \(.+\))", ""},
    {"NotAModule", L"--module TEMP\\notes.dll", "", 3, R"(notes\.dll": 193 \(.+\))", ""},
    {"ForeignModule", L"--module BIN\\log.dll", "", 4,
     R"(log\.dll" does not export QvCreateObject)", ""},
    {"DamagedDatabase", L"--db TEMP\\bad.hdb", "", 2, R"(bad\.hdb:2: the size "3k" is not)", ""},
    {"MissingDatabase", L"--db TEMP\\absent.hsb", "", 2, R"(absent\.hsb: cannot read: 2 \(.+\))",
     ""},
    {"CreateFails", L"", "create 1168", 5,
     R"(QvCreateObject\("FileScan.OnDemand.DeviceScanSP", IServPlugin\) failed: 1168 \(.+\))",
     "create unloaded"},
    {"InitFails", L"", "init 5", 7, R"(Init failed: 5 \(.+\))",
     "init acquired released unregister destroy unloaded"},
    {"StartFails", L"", "start 1400", 8, R"(Start failed: 1400 \(.+\))",
     "start uninit released unregister destroy unloaded"},
};

class HostFailure : public HostRun, public ::testing::WithParamInterface<Failure> {};

TEST_P(HostFailure, ExitsWithItsCodeAndAClearMessageAfterCleaningUp) {
    const Failure& failure = GetParam();
    temp.Add(L"notes.dll", 100);
    temp.Write(L"bad.hdb", std::string(kAbcMd5) + ":3:Good\n" + kAbcMd5 + ":3k:Bad\n");
    std::vector<std::wstring> args;
    std::wistringstream words(failure.args);
    for (std::wstring arg; words >> arg;) {
        if (arg.rfind(L"TEMP\\", 0) == 0) {
            arg = temp.Path(arg.substr(5));
        }
        if (arg.rfind(L"BIN\\", 0) == 0) {
            arg = HostProcess::BinDirectory() + arg.substr(3);
        }
        args.push_back(arg);
    }
    ASSERT_TRUE(Launch(failure.script, args));
    ASSERT_EQ(host.WaitForExit(), failure.exitCode);
    const auto err = Calls(false);
    EXPECT_TRUE(std::any_of(err.begin(), err.end(), [&](const std::string& line) {
        return std::regex_search(line, std::regex(failure.message));
    })) << ::testing::PrintToString(err);
    EXPECT_FALSE(AnyLineStartsWith(host.OutLines(), "started")) << "nothing ran";
    std::string calls;
    for (const std::string& call : Calls()) {
        calls += (calls.empty() ? "" : " ") + call;
    }
    EXPECT_TRUE(calls.ends_with(failure.calls)) << calls;
}

INSTANTIATE_TEST_SUITE_P(, HostFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
