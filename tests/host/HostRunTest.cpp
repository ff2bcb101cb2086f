// devicescan-host.exe run as a child process against the fake service module (FakeService.cpp),
// and with --scan and --help as scripts run it, its output, exit code and the calls it made
// checked; the lines of events that hold lists; and the host's component manager, which a module
// may ask for anything.
#include <windows.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "host/hosting/ComponentManager.h"
#include "host/hosting/ProducerPlugin.h"
#include "host/output/OutputQueue.h"
#include "host/output/ScanEventLines.h"
#include "host/scan/ScanLimit.h"
#include "sdk/IServPlugin.h"
#include "sdk/Utf8.h"
#include "tests/host/HostProcess.h"
#include "tests/support/TempTree.h"

namespace {

namespace host = devicescan::host;
using qv::ToUtf8;
using qv::rnsdk::FileScan::IDeviceScanEventProducer;
using test_support::TempTree;
using namespace ::testing;

constexpr const wchar_t* kProducer = L"FileScan.OnDemand.DeviceScanAL";

// The calls of a run that starts the service once and stops it cleanly.
constexpr const char* kCleanRun =
    "create register init acquired start stop uninit released unregister destroy unloaded";
constexpr const char* kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";  // of "abc"

// Starts the host on the fake, which plays script; a later --module in args wins.
bool LaunchOnFake(HostProcess& host, const std::string& script,
                  std::vector<std::wstring> args = {}) {
    SetEnvironmentVariableW(L"FAKE_SERVICE_SCRIPT", qv::FromUtf8(script).c_str());
    args.insert(args.begin(), {L"--module", qv::ProgramDirectory() + L"fake-service.dll"});
    return host.Launch(args);
}

// Ends the host as a script's pipe does, by closing its input: it must stop cleanly. (Typing
// quit and Ctrl-C are host-shell.sh's.)
void EndInput(HostProcess& host, const std::string& lastLine = "stopped (end-of-input)") {
    host.CloseInput();
    ASSERT_EQ(host.WaitForExit(), 0u);
    EXPECT_EQ(host.OutLines().back(), lastLine);
}

// The calls the host made to the fake, in order: the fake writes them to the stderr they share.
std::string Calls(const HostProcess& host) {
    std::string calls;
    for (const std::string& line : host.ErrLines()) {
        if (line.starts_with("fake: ")) {
            calls += (calls.empty() ? "" : " ") + line.substr(6);
        }
    }
    return calls;
}

TEST(HostRun, PrintsEveryMountAndRemovalFromProducerAndListenerAndScansTheVolume) {
    // 3 files of 1010 bytes in 3 directories, one of them empty.
    const TempTree temp;
    temp.Write(L"volume\\a.txt", std::string(10, 'x'));
    temp.Write(L"volume\\sub\\b.bin", std::string(1000, 'x'));
    temp.Write(L"volume\\sub\\deeper\\c", "");
    temp.Write(L"volume\\empty\\", "");

    const std::string volume = ToUtf8(temp.Path(L"volume"));
    const std::string missing = ToUtf8(temp.Path(L"not-there"));
    const std::string details = " fullSize=16777216 storedSize=4096 sessionId=1";
    HostProcess host;
    ASSERT_TRUE(LaunchOnFake(host, "mount local " + volume + "\nmount remote " + missing +
                                       "\nwait " + ToUtf8(temp.Path(L"go")) + "\nunmount " +
                                       volume + "\n"));
    ASSERT_TRUE(host.WaitForLine("scan finished " + volume +
                                 " files=3 directories=3 bytes=1010 errors=0 threats=0 hashed=0 "));
    ASSERT_TRUE(host.WaitForLine("scan failed " + missing + " error=3"));
    temp.Write(L"go", "");
    ASSERT_TRUE(host.WaitForLine("unmounted " + volume + " type=local" + details + " [listener]"));
    EndInput(host);

    const auto out = host.OutLines();
    const std::string mounted = "mounted " + volume + " type=local" + details;
    const auto producerMount = std::find(out.begin(), out.end(), mounted + " [producer]");
    ASSERT_NE(producerMount, out.end());
    EXPECT_NE(std::find(producerMount, out.end(), mounted + " [listener]"), out.end())
        << "the producer hears of a mount first";
    EXPECT_THAT(out,
                Contains("mounted " + missing + " type=remote remote=\\\\srv\\it's \"quoted\"" +
                         details + " [listener]"));
    EXPECT_THAT(out, Contains("unmounted " + volume + " type=local" + details + " [producer]"));
    EXPECT_THAT(out, Contains(StartsWith("started FileScan.OnDemand.DeviceScanSP (")));
    EXPECT_THAT(host.ErrLines(), Each(StartsWith("fake: "))) << "the host had nothing to report";
    EXPECT_EQ(Calls(host), kCleanRun);
}

// The JSON form of a path, independent of the host's own escaping: backslashes doubled, é as
// \u00e9.
std::string JsonString(const std::wstring& path) {
    const std::string doubled = std::regex_replace(ToUtf8(path), std::regex(R"(\\)"), R"(\\)");
    return "\"" + std::regex_replace(doubled, std::regex("\u00e9"), R"(\u00e9)") + "\"";
}

TEST(HostRun, JsonLinesCarryEveryFieldWithPathsEscaped) {
    const TempTree temp;
    temp.Write(L"caf\u00e9 volume\\one", "12345");
    const std::wstring volume = temp.Path(L"caf\u00e9 volume");
    HostProcess host;
    ASSERT_TRUE(LaunchOnFake(host, "mount remote " + ToUtf8(volume) + "\n", {L"--json"}));
    const std::string path = JsonString(volume);
    ASSERT_TRUE(host.WaitForLine(R"({"event":"scan","state":"finished","path":)" + path +
                                 R"(,"files":1,"directories":0,"bytes":5,"errors":0,)"
                                 R"("threats":0,"hashedBytes":0,"archives":0,"members":0,)"
                                 R"("damaged":0,"limited":0,"encrypted":0,"excluded":0})"));
    EndInput(host, R"({"event":"stopped","reason":"end-of-input"})");

    const std::string device = ",\"path\":" + path +
                               R"(,"type":"remote","remote":"\\\\srv\\it's \"quoted\"",)"
                               R"("fullSize":16777216,"storedSize":4096,"sessionId":1})";
    EXPECT_THAT(host.OutLines(), Contains(R"({"event":"mounted","source":"listener")" + device));
    EXPECT_THAT(host.OutLines(), Each(AllOf(StartsWith("{"), EndsWith("}"))));
}

// Two volumes scanned at once, each pausing a minute after its file. Once the first folder is
// really gone, its removal cancels that scan, a third volume then scans whole, and stopping the
// host cancels the second. (A removal
// heard while the volume still answers as it did is service-e2e.sh's, with real volumes.)
TEST(HostRun, ARealRemovalCancelsThatVolumesScanAndStoppingCancelsTheRest) {
    const TempTree temp;
    temp.Write(L"stick\\first\\a", "x");
    temp.Write(L"second\\a", "x");
    const std::string first = ToUtf8(temp.Path(L"stick\\first"));
    const std::string second = ToUtf8(temp.Path(L"second"));
    temp.Write(L"third\\", "");
    const std::string third = ToUtf8(temp.Path(L"third"));
    HostProcess host;
    ASSERT_TRUE(LaunchOnFake(
        host,
        "mount local " + first + "\nmount local " + second + "\nwait " +
            ToUtf8(temp.Path(L"real")) + "\nunmount " + first + "\nmount local " + third + "\n",
        {L"--progress", L"1", L"--scan-pause", L"60000", L"--scan-threads", L"2"}));
    ASSERT_TRUE(host.WaitForLine("scan progress " + first + " files=1 "));
    ASSERT_TRUE(host.WaitForLine("scan progress " + second + " files=1 "));
    // The scan holds the folder itself open, so its parent goes: the path no longer answers.
    ASSERT_TRUE(MoveFileW(temp.Path(L"stick").c_str(), temp.Path(L"gone").c_str()));
    temp.Write(L"real", "");
    const std::string counts =
        " files=1 directories=0 bytes=1 errors=0 threats=0 hashed=0"
        " archives=0 members=0 damaged=0 limited=0 encrypted=0 excluded=0 ";
    ASSERT_TRUE(host.WaitForLine("scan cancelled " + first + counts + "(volume removed)"));
    // The worker of the cancelled scan runs the next one whole.
    ASSERT_TRUE(host.WaitForLine("scan finished " + third + " files=0 "));
    EndInput(host);

    EXPECT_THAT(host.OutLines(), Contains("scan cancelled " + second + counts + "(host stopping)"));
    EXPECT_THAT(host.ErrLines(), Each(StartsWith("fake: ")))
        << "the workers ended within their bound";
}

// --scan runs without the module and exits as command-line scanners do: 0 clean, 1 found (even
// beside an unreadable file), 2 an error or a stop. Targets as scripts give them: folders, single
// files, several in one run (one scan at a time, so each run's totals must add up over its
// scans), a path that is not there, a file another program holds open without sharing, and the
// time limit. (The clamscan differential checks what it finds in a large tree.) --help and its
// other spellings, also after other options: the usage on standard output, exit code 0. Last,
// with --move the threat line says where its file went, and the folder's list shows it. (The
// quarantine's own tests fail each step; the volume scripts move a stick's threats.)
TEST(HostRun, ScanAndHelpRunsExitWithWhatTheyFound) {
    const TempTree temp;
    temp.Write(L"db\\test.hdb", std::string(kAbcMd5) + ":3:Test.Abc\n");
    temp.Write(L"dirty\\sub\\abc.bin", "abc");
    temp.Write(L"clean\\abd.bin", "abd");
    temp.Write(L"locked\\abe.bin", "abe");  // of a signature's size, so it must be read
    temp.Write(L"slow\\a", "x");
    temp.Write(L"slow\\b", "x");
    const qv::UniqueHandle lock(CreateFileW(temp.Path(L"locked\\abe.bin").c_str(), GENERIC_READ, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.IsValid());
    const auto path = [&](const wchar_t* relative) { return ToUtf8(temp.Path(relative)); };
    const auto finished = [&](const wchar_t* relative) {
        return "scan finished " + path(relative) + " files=1 directories=0 bytes=3 errors=";
    };
    const std::string threat = "threat " + path(L"dirty\\sub\\abc.bin") + " Test.Abc md5=";
    const std::wstring box = temp.Path(L"box");
    const struct {
        std::vector<const wchar_t*> targets;
        std::vector<std::wstring> more;
        DWORD exitCode;
        std::string line;  // one line of the output
    } runs[] = {
        {{L"clean"}, {}, 0, finished(L"clean") + "0 threats=0"},
        {{L"dirty\\sub\\abc.bin"}, {}, 1, threat},
        {{L"clean\\abd.bin"}, {}, 0, finished(L"clean\\abd.bin") + "0 threats=0"},
        {{L"absent"}, {}, 2, "scan failed " + path(L"absent") + " error=3 ("},
        {{L"dirty", L"clean"}, {}, 1, finished(L"clean")},
        {{L"clean", L"absent"}, {}, 2, finished(L"clean")},
        {{L"locked"}, {}, 2, finished(L"locked") + "1 threats=0"},
        {{L"locked", L"dirty"}, {}, 1, threat},
        {{L"locked", L"clean"}, {}, 2, finished(L"clean")},
        {{L"slow"}, {L"--scan-pause", L"60000", L"--seconds", L"1"}, 2, "scan cancelled "},
        {{}, {L"--help"}, 0, "usage: devicescan-host"},
        {{}, {L"-h"}, 0, "usage: devicescan-host"},
        {{}, {L"/?"}, 0, "usage: devicescan-host"},
        {{L"absent"}, {L"--help"}, 0, "usage: devicescan-host"},
        {{L"dirty"}, {L"--move", box}, 1, threat + kAbcMd5 + " quarantine=" + ToUtf8(box)},
    };
    for (const auto& run : runs) {
        std::vector<std::wstring> args{L"--db", temp.Path(L"db"), L"--scan-threads", L"1"};
        std::string shown;
        for (const wchar_t* target : run.targets) {
            args.insert(args.end(), {L"--scan", temp.Path(target)});
            shown += ToUtf8(target) + " ";
        }
        args.insert(args.end(), run.more.begin(), run.more.end());
        SCOPED_TRACE(shown + run.line);
        HostProcess scan;
        ASSERT_TRUE(scan.Launch(args));
        EXPECT_EQ(scan.WaitForExit(), run.exitCode);
        EXPECT_THAT(scan.OutLines(), Contains(HasSubstr(run.line)));
        EXPECT_THAT(scan.ErrLines(), IsEmpty());
    }
    HostProcess list;
    ASSERT_TRUE(list.Launch({L"--list-quarantine", box}));
    EXPECT_EQ(list.WaitForExit(), 0u);
    EXPECT_THAT(list.OutLines(), ElementsAre(ContainsRegex(R"(^quarantined \S+ .*abc\.bin )"
                                                           "file=.* size=3 .*Test\\.Abc")));
}

// How a run ends: its exit code, a reason, and the last calls to the fake, which show what it
// cleaned up. Scripts stop the host through its input: "quit" with or without blanks and a CR
// before the line feed, other lines ignored with a note; and the time limit when input is not
// read, long enough for the host to look for the service's window. When it cannot run the service
// the host says why. The host watches the service's window: when it goes, the host restarts the
// service (its listener registered anew), and a restart that fails ends the host with exit code
// 9. (The volume scripts show a restart that works: a stick plugged after it is announced and
// scanned.)
TEST(HostRun, EndsWithItsCodeAReasonAndTheCallsThatCleanedUp) {
    const TempTree temp;
    temp.Write(L"bad.hdb", std::string(kAbcMd5) + ":3:Good\n" + kAbcMd5 + ":3k:Bad\n");
    const std::string cleanup = " released unregister destroy unloaded";
    const std::string restart = "unregister register init acquired" + cleanup;
    const std::wstring logDll = qv::ProgramDirectory() + L"..\\bin\\log.dll";
    const struct {
        std::vector<std::wstring> args;
        const char* script;
        DWORD exitCode;
        const char* message;  // a regular expression
        std::string calls;    // how the calls to the fake end
        const char* input = "";
    } ends[] = {
        // The service ran once, with its window found at every look (twice a second).
        {{}, "", 0, R"(stopped \(quit\))", kCleanRun, "  quit \r\n"},
        {{}, "", 0, R"(ignored input "status")", kCleanRun, "status\nquit\n"},
        {{L"--no-stdin", L"--seconds", L"1"}, "", 0, R"(stopped \(timeout\))", kCleanRun, "quit\n"},
        {{L"--frobnicate"}, "", 2, "unknown option --frobnicate", ""},
        // A pattern is refused by the name of its option, also after "=".
        {{L"--exclude", L"[a-"}, "", 2, R"(--exclude .*"\[a-")", ""},
        {{L"--include=ok", L"--exclude-dir=x)"}, "", 2, R"re(--exclude-dir .*"x\)")re", ""},
        // The module option the launch adds means nothing in a scan run.
        {{L"--scan", temp.Path(L"")}, "", 2, "--module means nothing with --scan", ""},
        {{L"--module", temp.Path(L"absent.dll")}, "", 3, R"(absent\.dll": 126 \(.+\))", ""},
        {{L"--module", logDll}, "", 4, R"(log\.dll" does not export QvCreateObject)", ""},
        {{L"--db", temp.Path(L"bad.hdb")}, "", 2, R"(bad\.hdb:2: the size "3k" is not)", ""},
        {{L"--move", temp.Path(L"bad.hdb")}, "", 2, R"(quarantine folder .*bad\.hdb: 183 )", ""},
        {{L"--db", temp.Path(L"absent.hsb")}, "", 2, R"(absent\.hsb: cannot read: 2 \(.+\))", ""},
        {{}, "create 1168", 5, R"(IServPlugin\) failed: 1168 \(.+\))", "create unloaded"},
        {{}, "init 5", 7, R"(Init failed: 5 \(.+\))", "init acquired" + cleanup},
        {{}, "start 1400", 8, R"(Start failed: 1400 \(.+\))", "start uninit" + cleanup},
        // The window goes at once, often before the host's first look: that counts as lost too.
        {{}, "reinit 5\nlose-window\n", 9, R"(\(restart-failed\): .*Init failed: 5)", restart},
    };
    for (const auto& end : ends) {
        SCOPED_TRACE(end.message);
        HostProcess host;
        ASSERT_TRUE(LaunchOnFake(host, end.script, end.args));
        host.WriteInput(end.input);
        ASSERT_EQ(host.WaitForExit(), end.exitCode);
        std::vector<std::string> lines = host.ErrLines();
        std::ranges::copy(host.OutLines(), std::back_inserter(lines));
        EXPECT_THAT(lines, Contains(ContainsRegex(end.message)));
        EXPECT_THAT(Calls(host), EndsWith(end.calls));
    }
}

// The queue's thread rule is checked, not only stated: a second thread that drains it ends the
// process (in the builds with thread checks, which every build with tests is).
TEST(OutputQueueDeathTest, ASecondThreadThatDrainsItEndsTheProcess) {
#if defined(DEVICESCAN_THREAD_CHECKS)
    EXPECT_DEATH(
        {
            host::OutputQueue queue;
            queue.Take();
            const HANDLE other = test_support::StartThread([&] { queue.Take(); });
            WaitForSingleObject(other, test_support::kStuckMs);
        },
        "output queue drained by a second thread");
#else
    GTEST_SKIP() << "built without thread checks";
#endif
}

// The lines whose fields hold lists, each item kept apart and escaped: a member chain (in both
// forms) and the kinds of container files that were not loaded.
TEST(EventLines, ListsKeepEveryItemApartAndEscaped) {
    using Format = host::EventPrinter::Format;
    const devicescan::scan::ScanLimit limit{L"E:\\b.tar", {"in \"x\".zip", "b\\y"}, "max-files"};
    const std::string members = R"(["in \"x\".zip","b\\y"])";
    EXPECT_EQ(host::ScanEventLines::Limit(Format::kText, limit),
              R"(limit E:\b.tar member=)" + members + " max-files");
    EXPECT_EQ(
        host::ScanEventLines::Limit(Format::kJson, limit),
        R"({"event":"limit","path":"E:\\b.tar","member":)" + members + R"(,"limit":"max-files"})");
    const host::EventPrinter::Signatures signatures{5, 2, 1, 0, {{".ldb", 1}, {".ndb", 2}}};
    EXPECT_EQ(host::EventPrinter::StartedLine(Format::kJson, L"S", L"m.dll", signatures),
              R"({"event":"started","object":"S","module":"m.dll","signatures":5,"databases":2,)"
              R"("allowlisted":1,"ignored":0,"skipped":{".ldb":1,".ndb":2}})");
}

TEST(ComponentManager, HandsOutTheProducerForItsExactNameAndIdentityOnly) {
    const host::EventPrinter printer(std::make_shared<host::OutputQueue>(),
                                     host::EventPrinter::Format::kText, false);
    host::ProducerPlugin producer(printer, nullptr);
    host::ComponentManager manager(&producer, printer);
    void* plugin = nullptr;
    ASSERT_EQ(manager.AcquirePlugin(kProducer, IDeviceScanEventProducer::kId, &plugin), 0u);
    EXPECT_EQ(plugin, static_cast<IDeviceScanEventProducer*>(&producer));

    const std::pair<const wchar_t*, qv::InterfaceId> refusals[] = {
        {L"FileScan.OnDemand.DeviceScanal", IDeviceScanEventProducer::kId},
        {L"FileScan.OnDemand.DeviceScanAL ", IDeviceScanEventProducer::kId},
        {kProducer, qv::IServPlugin::kId},
        {kProducer, {IDeviceScanEventProducer::kId.low, IDeviceScanEventProducer::kId.high ^ 1}},
        {nullptr, IDeviceScanEventProducer::kId},
    };
    for (const auto& [name, id] : refusals) {
        plugin = reinterpret_cast<void*>(1);
        EXPECT_NE(manager.AcquirePlugin(name, id, &plugin), 0u);
        EXPECT_EQ(plugin, nullptr) << "a refusal leaves no stale pointer behind";
    }

    // Releases are counted against acquisitions, by exact name too.
    EXPECT_EQ(manager.ReleasePlugin(L"FileScan.OnDemand.Other"), 1168u);
    EXPECT_EQ(manager.ReleasePlugin(kProducer), 0u);
    EXPECT_EQ(manager.ReleasePlugin(kProducer), 1168u);
    EXPECT_EQ(manager.HeldCount(), 0);
}

}  // namespace
