// devicescan-host.exe run as a child process against the fake service module, its output and
// exit code checked. The fake plays what the scripts below say; see FakeService.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "HostProcess.h"
#include "TempTree.h"
#include "Utf8.h"

namespace {

using host::ToUtf8;

std::atomic<int> eventCounter{0};

std::wstring FakeModule(const wchar_t* name) {
    return HostProcess::TestDirectory() + L"\\" + name;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

// Index of the first line that equals line, or -1.
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
    Go()
        : name(L"dshost-go-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(++eventCounter)),
          event(CreateEventW(nullptr, TRUE, FALSE, name.c_str())) {}
    ~Go() { CloseHandle(event); }
    void Set() const { SetEvent(event); }
    std::string Name() const { return ToUtf8(name); }

  private:
    std::wstring name;
    HANDLE event;
};

class HostRun : public ::testing::Test {
  protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"FAKE_SERVICE_LOG", temp.Path(L"calls.log").c_str());
        SetEnvironmentVariableW(L"FAKE_SERVICE_SCRIPT", temp.Path(L"script.txt").c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"FAKE_SERVICE_LOG", nullptr);
        SetEnvironmentVariableW(L"FAKE_SERVICE_SCRIPT", nullptr);
    }

    void Script(const std::string& text) const { temp.WriteText(L"script.txt", text); }
    std::vector<std::string> Calls() const { return Lines(temp.ReadText(L"calls.log")); }

    bool Launch(std::vector<std::wstring> args,
                HostProcess::Input input = HostProcess::Input::kPipe,
                const wchar_t* module = L"fake-service.dll") {
        args.insert(args.begin(), {L"--module", FakeModule(module)});
        return host.Launch(args, input);
    }

    // A directory with 3 files of 1010 bytes in all, and 3 directories below it.
    std::wstring KnownTree() const {
        temp.AddDirectory(L"volume");
        temp.AddFile(L"volume\\a.txt", 10);
        temp.AddDirectory(L"volume\\sub");
        temp.AddFile(L"volume\\sub\\b.bin", 1000);
        temp.AddDirectory(L"volume\\sub\\deeper");
        temp.AddFile(L"volume\\sub\\deeper\\c", 0);
        temp.AddDirectory(L"volume\\empty");
        return temp.Path(L"volume");
    }

    // A directory with ten 1-byte files, for scans made slow with --scan-pause.
    std::wstring SlowTree() const {
        temp.AddDirectory(L"slow");
        for (int i = 0; i < 10; ++i) {
            temp.AddFile(L"slow\\f" + std::to_wstring(i), 1);
        }
        return temp.Path(L"slow");
    }

    TempTree temp{L"run"};
    HostProcess host;
};

TEST_F(HostRun, PrintsEveryMountAndRemovalFromProducerAndListenerAndScansTheVolume) {
    const std::string volume = ToUtf8(KnownTree());
    const std::string missing = ToUtf8(temp.Path(L"not-there"));
    const Go go;
    Script("mount local " + volume + "\nremote \\\\server\\share\nmount remote " + missing +
           "\nwait " + go.Name() + "\nunmount " + volume + "\n");
    ASSERT_TRUE(Launch({}));
    ASSERT_TRUE(host.WaitForLine({"scan finished " + volume + " "}));
    ASSERT_TRUE(host.WaitForLine({"scan failed " + missing + " "}));
    go.Set();
    ASSERT_TRUE(host.WaitForLine({"unmounted " + volume, "[listener]"}));
    host.Send("quit\n");
    ASSERT_EQ(host.WaitForExit(), 0u);

    const auto out = host.OutLines();
    const std::string details = " fullSize=16777216 storedSize=4096 sessionId=1";
    const int producerMount =
        IndexOf(out, "mounted " + volume + " type=local" + details + " [producer]");
    const int listenerMount =
        IndexOf(out, "mounted " + volume + " type=local" + details + " [listener]");
    EXPECT_GE(producerMount, 0);
    EXPECT_GT(listenerMount, producerMount) << "the producer hears of a mount first";
    EXPECT_GE(IndexOf(out, "mounted " + missing + " type=remote remote=\\\\server\\share" +
                               details + " [listener]"),
              0);
    EXPECT_GE(
        IndexOf(out, "scan finished " + volume + " files=3 directories=3 bytes=1010 errors=0"), 0);
    EXPECT_TRUE(AnyLineStartsWith(out, "scan failed " + missing + " error=3"));
    EXPECT_GE(IndexOf(out, "unmounted " + volume + " type=local" + details + " [producer]"), 0);
    EXPECT_TRUE(AnyLineStartsWith(out, "started FileScan.OnDemand.DeviceScanSP ("));
    EXPECT_EQ(out.back(), "stopped (quit)");
    EXPECT_EQ(host.Err(), "");

    const std::vector<std::string> expected = {
        "create FileScan.OnDemand.DeviceScanSP IServPlugin",
        "query IQvBaseInterface",
        "query IDeviceScanSP",
        "register",
        "init",
        "acquire 0",
        "start",
        "stop",
        "uninit",
        "release 0",
        "unregister",
        "destroy FileScan.OnDemand.DeviceScanSP root",
        "unloaded",
    };
    EXPECT_EQ(Calls(), expected);
}

// Independent of the host's own escaping: backslashes doubled, quotes escaped, é as \u00e9.
std::string JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (const wchar_t c : text) {
        if (c == L'\\' || c == L'"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == L'\u00e9') {
            out += "\\u00e9";
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

TEST_F(HostRun, JsonLinesCarryEveryFieldWithPathsEscaped) {
    temp.AddDirectory(L"caf\u00e9 volume");
    temp.AddFile(L"caf\u00e9 volume\\one", 5);
    const std::wstring volume = temp.Path(L"caf\u00e9 volume");
    Script("remote \\\\srv\\it's \"quoted\"\nmount cdrom " + ToUtf8(volume) + "\n");
    ASSERT_TRUE(Launch({L"--json"}));
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
    EXPECT_GE(IndexOf(out, R"({"event":"scan","state":"started","path":)" + path +
                               R"(,"files":0,"directories":0,"bytes":0,"errors":0})"),
              0);
    EXPECT_GE(IndexOf(out, R"({"event":"scan","state":"finished","path":)" + path +
                               R"(,"files":1,"directories":0,"bytes":5,"errors":0})"),
              0);
    EXPECT_GE(IndexOf(out, R"({"event":"started","object":"FileScan.OnDemand.DeviceScanSP",)"
                           R"("module":)" +
                               JsonString(FakeModule(L"fake-service.dll")) + "}"),
              0);
    EXPECT_EQ(out.back(), R"({"event":"stopped","reason":"end-of-input"})");
    for (const std::string& line : out) {
        EXPECT_TRUE(line.front() == '{' && line.back() == '}') << line;
    }
}

TEST_F(HostRun, RemovalCancelsTheScanOfThatVolume) {
    const std::string volume = ToUtf8(SlowTree());
    const Go go;
    Script("mount local " + volume + "\nwait " + go.Name() + "\nunmount " + volume + "\n");
    // A minute after each file: the scan cannot finish on its own while the test runs.
    ASSERT_TRUE(Launch({L"--progress", L"1", L"--scan-pause", L"60000"}));
    ASSERT_TRUE(host.WaitForLine({"scan progress " + volume + " files=1 "}));
    go.Set();
    ASSERT_TRUE(host.WaitForLine({"scan cancelled " + volume + " files=1 ", "(volume removed)"}));
    host.Send("quit\n");
    ASSERT_EQ(host.WaitForExit(), 0u);

    const auto out = host.OutLines();
    EXPECT_FALSE(AnyLineStartsWith(out, "scan finished"));
    EXPECT_EQ(out.back(), "stopped (quit)");
}

TEST_F(HostRun, StopCancelsARunningScanAndEndsTheWorker) {
    const std::string volume = ToUtf8(SlowTree());
    Script("mount local " + volume + "\n");
    ASSERT_TRUE(Launch({L"--progress", L"1", L"--scan-pause", L"60000"}));
    ASSERT_TRUE(host.WaitForLine({"scan progress " + volume + " files=1 "}));
    host.Send("quit\n");
    ASSERT_EQ(host.WaitForExit(), 0u);

    const auto out = host.OutLines();
    ASSERT_GE(out.size(), 2u);
    EXPECT_TRUE(out[out.size() - 2].rfind("scan cancelled " + volume + " files=1 ", 0) == 0);
    EXPECT_NE(out[out.size() - 2].find("(host stopping)"), std::string::npos);
    EXPECT_EQ(out.back(), "stopped (quit)");
    EXPECT_EQ(host.Err(), "") << "the worker ended within its bound";
}

TEST_F(HostRun, StopsAtTheEndOfInputAndIgnoresOtherLines) {
    Script("");
    ASSERT_TRUE(Launch({}));
    ASSERT_TRUE(host.WaitForLine({"started "}));
    host.Send("hello\r\n\n  \n");
    host.CloseInput();
    ASSERT_EQ(host.WaitForExit(), 0u);
    EXPECT_EQ(host.OutLines().back(), "stopped (end-of-input)");
    EXPECT_NE(host.Err().find("ignored input \"hello\" (type quit to stop)"), std::string::npos)
        << host.Err();
}

TEST_F(HostRun, StdinFromTheNulDeviceEndsTheRunAtOnceUnlessNotRead) {
    Script("");
    ASSERT_TRUE(Launch({}, HostProcess::Input::kNul));
    ASSERT_EQ(host.WaitForExit(), 0u);
    EXPECT_EQ(host.OutLines().back(), "stopped (end-of-input)");
}

TEST_F(HostRun, NoStdinRunsUntilTheTimeLimit) {
    Script("");
    ASSERT_TRUE(Launch({L"--no-stdin", L"--seconds", L"1"}, HostProcess::Input::kNul));
    ASSERT_EQ(host.WaitForExit(), 0u);
    EXPECT_EQ(host.OutLines().back(), "stopped (timeout)");
}

TEST_F(HostRun, WarnsWhenTheServiceBreaksItsContractAndTracesTheCalls) {
    const std::string volume = ToUtf8(temp.Root());
    Script("keep-plugin\nmarker 7\nmount local " + volume + "\nunmount " + volume + "\n");
    ASSERT_TRUE(Launch({L"--no-scan", L"--verbose"}));
    ASSERT_TRUE(host.WaitForLine({"unmounted ", "[listener]"}));
    host.Send("quit\n");
    ASSERT_EQ(host.WaitForExit(), 0u);

    const std::string err = host.Err();
    EXPECT_NE(
        err.find("warning: NotifyDeviceUnmounted for " + volume + " got marker 7, expected 57005"),
        std::string::npos)
        << err;
    EXPECT_NE(err.find("warning: the service did not give the producer plugin back"),
              std::string::npos);
    EXPECT_NE(err.find("AcquirePlugin(\"FileScan.OnDemand.DeviceScanAL\", "
                       "{328B2BC6-3AFD-9ED2-5B42-083A9508491E}) -> 0"),
              std::string::npos);
    EXPECT_FALSE(AnyLineStartsWith(host.OutLines(), "scan ")) << "--no-scan scans nothing";
}

// One failure class: how the host is started, and what it must answer.
struct Failure {
    const char* name;
    const char* script;
    std::vector<std::wstring> args;  // the module: fake-service.dll unless --module is given
    DWORD exitCode;
    const char* message;             // on stderr
    std::vector<std::string> calls;  // the end of the fake's log (empty: not checked)
};

void PrintTo(const Failure& failure, std::ostream* out) {
    *out << failure.name;
}

class HostFailure : public HostRun, public ::testing::WithParamInterface<Failure> {};

TEST_P(HostFailure, ExitsWithItsCodeAndAClearMessageAfterCleaningUp) {
    const Failure& failure = GetParam();
    Script(failure.script);
    temp.WriteText(L"notes.dll", "not a module\n");
    std::vector<std::wstring> args;
    for (std::wstring arg : failure.args) {
        if (arg.rfind(L"TEMP\\", 0) == 0) {
            arg = temp.Root() + arg.substr(4);
        }
        if (arg.rfind(L"FAKES\\", 0) == 0) {
            arg = HostProcess::TestDirectory() + arg.substr(5);
        }
        args.push_back(arg);
    }
    // A later --module wins over the fake that Launch puts first.
    ASSERT_TRUE(Launch(args));
    ASSERT_EQ(host.WaitForExit(), failure.exitCode) << host.Err();
    EXPECT_NE(host.Err().find(failure.message), std::string::npos) << host.Err();
    EXPECT_FALSE(AnyLineStartsWith(host.OutLines(), "started")) << "nothing ran";
    const auto calls = Calls();
    if (!failure.calls.empty()) {
        ASSERT_GE(calls.size(), failure.calls.size());
        EXPECT_EQ(std::vector<std::string>(calls.end() - failure.calls.size(), calls.end()),
                  failure.calls);
    }
}

const std::string kDestroyed = "destroy FileScan.OnDemand.DeviceScanSP root";

INSTANTIATE_TEST_SUITE_P(
    , HostFailure,
    ::testing::Values(
        Failure{"UnknownOption", "", {L"--frobnicate"}, 2, "unknown option --frobnicate", {}},
        Failure{"BadNumber", "", {L"--seconds", L"soon"}, 2, "--seconds needs a whole number", {}},
        Failure{
            "MissingModule", "", {L"--module", L"TEMP\\absent.dll"}, 3, "absent.dll\": 126 (", {}},
        Failure{"NotAModule", "", {L"--module", L"TEMP\\notes.dll"}, 3, "notes.dll\": 193 (", {}},
        Failure{"NoExports",
                "",
                {L"--module", L"FAKES\\fake-noexports.dll"},
                4,
                "does not export QvCreateObject",
                {}},
        Failure{"NoDestroyExport",
                "",
                {L"--module", L"FAKES\\fake-createonly.dll"},
                4,
                "does not export QvDestroyObject",
                {}},
        Failure{"CreateFails",
                "create 1168\n",
                {},
                5,
                "QvCreateObject(\"FileScan.OnDemand.DeviceScanSP\", IServPlugin) failed: 1168",
                {"create FileScan.OnDemand.DeviceScanSP IServPlugin", "unloaded"}},
        Failure{"NoDeviceScanView",
                "hide IDeviceScanSP\n",
                {},
                5,
                "does not answer QueryInterface for IDeviceScanSP",
                {"query IDeviceScanSP", kDestroyed, "unloaded"}},
        Failure{"RegisterRefused",
                "register 1627\n",
                {},
                6,
                "Register failed: 1627",
                {"register", kDestroyed, "unloaded"}},
        Failure{
            "InitFails",
            "init 5\n",
            {},
            7,
            "Init failed: 5 (",
            {"register", "init", "acquire 0", "release 0", "unregister", kDestroyed, "unloaded"}},
        Failure{"StartFails",
                "start 1400\n",
                {},
                8,
                "Start failed: 1400",
                {"register", "init", "acquire 0", "start", "uninit", "release 0", "unregister",
                 kDestroyed, "unloaded"}}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

}  // namespace
