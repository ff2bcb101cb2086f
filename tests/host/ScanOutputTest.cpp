// What the host prints, and how a --scan run ends: which events each output level lets through,
// and the summary of a run against a known tree with parts left out. (The patterns a selection
// refuses are in the host run's failures.)
#include <windows.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "host/output/EventPrinter.h"
#include "host/output/OutputQueue.h"
#include "sdk/Utf8.h"
#include "tests/host/HostProcess.h"
#include "tests/support/ArchiveWriter.h"
#include "tests/support/TempTree.h"

namespace {

namespace host = devicescan::host;
using host::EventPrinter;
using Level = EventPrinter::Level;
using test_support::TempTree;
using namespace ::testing;

constexpr const char* kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";  // of "abc"

// Each kind of event, and the quietest level that still prints it (kAll: the default only,
// kInfected: also --infected, kQuiet: always).
TEST(OutputLevel, PrintsEachEventAtTheLevelsItBelongsTo) {
    using State = host::ScanReport::State;
    const auto scan = [](State state) {
        return [state](const EventPrinter& p) { p.Scan({state, L"E:\\", {}, {}, 5}); };
    };
    const devicescan::scan::Detection detection{L"E:\\x", {}, "N", false, {}, 3};
    const struct {
        const char* what;
        std::function<void(const EventPrinter&)> print;
        Level quietest;
    } events[] = {
        {"mounted", [](auto& p) { p.Device(true, {}, {}); }, Level::kAll},
        {"scan cancelled", scan(State::kCancelled), Level::kAll},
        {"scan failed", scan(State::kFailed), Level::kQuiet},
        {"detection", [&](auto& p) { p.Detection(detection); }, Level::kInfected},
        {"limit", [](auto& p) { p.Limit({}); }, Level::kAll},
        {"summary", [](auto& p) { p.Summary({}); }, Level::kAll},
        {"not removed", [](auto& p) { p.RemovalNotConfirmed(L"F:\\"); }, Level::kInfected},
        {"warning", [](auto& p) { p.Notice(L"warning", L"lost", L""); }, Level::kInfected},
        {"restarted", [](auto& p) { p.Notice(L"restarted", L"lost", L""); }, Level::kAll},
        {"error", [](auto& p) { p.Notice(L"error", L"restart-failed", L""); }, Level::kQuiet},
        {"stderr warning", [](auto& p) { p.Warning(L"odd"); }, Level::kInfected},
        {"trace asked for", [](auto& p) { p.Trace(L"call"); }, Level::kQuiet},
        {"moved", [](auto& p) { p.Quarantined(L"E:\\x", true, L"q", L"1"); }, Level::kInfected},
        {"not moved", [](auto& p) { p.QuarantineFailed(L"E:\\x", L"changed", 0); }, Level::kQuiet},
        {"read-only volume", [](auto& p) { p.ReadOnlyVolume(L"E:\\x"); }, Level::kInfected},
    };
    for (const auto& event : events) {
        for (const Level level : {Level::kAll, Level::kInfected, Level::kQuiet}) {
            auto queue = std::make_shared<host::OutputQueue>();
            event.print(EventPrinter(queue, EventPrinter::Format::kJson, true, level));
            EXPECT_EQ(queue->Take().size(), level <= event.quietest ? 1u : 0u)
                << event.what << " at level " << static_cast<int>(level);
        }
    }
}

// Two trees scanned in one run, with a folder and a file left out: the summary holds both scans'
// counts added up.
TEST(ScanSummary, AddsUpEveryScanOfTheRunAndCountsWhatWasLeftOut) {
    const TempTree temp;
    const std::string zip = test_support::ZipOf({{"a/abc.txt", "abc"}, {"b.txt", "xyz"}});
    temp.Write(L"db\\test.hdb", std::string(kAbcMd5) + ":3:Test.Abc\n");
    temp.Write(L"one\\abc.bin", "abc");
    temp.Write(L"one\\clean.bin", "abd");
    temp.Write(L"one\\Skip\\deeper\\abc.bin", "abc");
    temp.Write(L"one\\sub\\abc.LOG", "abc");
    temp.Write(L"one\\sub\\in.zip", zip);
    temp.Write(L"two\\abc.bin", "abc");
    HostProcess run;
    ASSERT_TRUE(run.Launch({L"--db", temp.Path(L"db"), L"--scan", temp.Path(L"one"), L"--scan",
                            temp.Path(L"two"), L"--exclude-dir", L"\\\\skip$", L"--exclude",
                            L"\\.log$", L"--scan-threads", L"2"}));
    ASSERT_EQ(run.WaitForExit(), 1u);
    EXPECT_THAT(
        run.OutLines(),
        Contains(MatchesRegex(
            "summary signatures=1 databases=1 files=4 directories=1 archives=1 "
            "members=2 threats=3 errors=0 damaged=0 limited=0 encrypted=0 excluded=2 bytes=" +
            std::to_string(9 + zip.size()) + " bytesRead=\\d+ elapsed=\\d+\\.\\d\\d\\ds")));
}

// What a --scan run prints at each level, its exit code unchanged.
TEST(ScanOutput, PrintsWhatItsLevelLetsThrough) {
    const TempTree temp;
    temp.Write(L"db\\test.hdb", std::string(kAbcMd5) + ":3:Test.Abc\n");
    temp.Write(L"dirty\\abc.bin", "abc");
    const std::wstring dirty = temp.Path(L"dirty");
    const std::wstring absent = temp.Path(L"absent");
    const struct {
        std::vector<std::wstring> args;
        DWORD exitCode;
        std::vector<std::string> starts;  // of each output line, in order
    } runs[] = {
        {{L"--scan", dirty}, 1, {"scan started", "threat", "scan finished", "summary"}},
        {{L"-i", L"--scan", dirty}, 1, {"threat"}},
        {{L"--quiet", L"--scan", dirty}, 1, {}},
        {{L"--quiet", L"-i", L"--scan", dirty}, 1, {}},
        {{L"--quiet", L"--scan", absent}, 2, {"scan failed"}},
    };
    for (const auto& test : runs) {
        std::vector<std::wstring> args = test.args;
        args.insert(args.begin(), {L"--db", temp.Path(L"db")});
        SCOPED_TRACE(qv::ToUtf8(args[2] + L" " + args.back()));
        HostProcess run;
        ASSERT_TRUE(run.Launch(args));
        EXPECT_EQ(run.WaitForExit(), test.exitCode);
        std::vector<Matcher<const std::string&>> lines;
        std::ranges::transform(test.starts, std::back_inserter(lines),
                               [](const std::string& start) { return StartsWith(start + " "); });
        EXPECT_THAT(run.OutLines(), ElementsAreArray(lines));
    }
}

}  // namespace
