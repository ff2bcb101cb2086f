// What a scan leaves out: files and folders a PathFilter excludes, or that no inclusion takes, on
// a real tree whose every file holds the test file, so that the detections are exactly the files
// checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <tuple>

#include "host/scan/EicarCheck.h"
#include "host/scan/PathFilter.h"
#include "tests/scan/ScanEngineFixture.h"
#include "tests/support/ArchiveWriter.h"

namespace {

using namespace devicescan::scan;
using namespace devicescan::scan::scan_tests;
constexpr auto kFile = PathFilter::Rule::kExcludeFile;
constexpr auto kFolder = PathFilter::Rule::kExcludeFolder;
constexpr auto kOnly = PathFilter::Rule::kIncludeFile;

class ScanSelection : public ScanEngine {
  protected:
    // A folder named tools at the root and one deeper, a neighbour whose name only starts like
    // it, names in mixed case, and a zip holding the test file.
    void SetUp() override {
        const std::string eicar = EicarCheck::Text();
        Write(L"v", {{"Tools\\nc.exe", eicar}, {"tools2\\x.txt", eicar}, {"readme.txt", eicar}});
        Write(L"v\\docs", {{"Report.PDF", eicar}, {"tools\\inner.exe", eicar}});
        tree.Write(L"v\\a.zip", test_support::ZipOf({{"in/e.com", eicar}}));
    }

    // The names of the files found, sorted and joined by spaces; the counts in result.
    std::string ScanWith(const std::vector<std::pair<PathFilter::Rule, std::wstring>>& patterns) {
        auto filter = std::make_shared<PathFilter>();
        for (const auto& [rule, pattern] : patterns) {
            EXPECT_TRUE(filter->Add(rule, pattern)) << qv::ToUtf8(pattern);
        }
        const Scanned scanned = Scan(L"v", {.filter = filter});
        result = scanned.result;
        std::multiset<std::string> names;
        for (const std::string& found : scanned.detections) {
            const std::string path = found.substr(0, found.find(" EICAR-Test-File "));
            names.insert(path.substr(path.rfind('\\') + 1));
        }
        // Every file checked is found: none left out is counted as checked.
        EXPECT_EQ(result.counts.files, names.size());
        std::string joined;
        for (const std::string& name : names) {
            joined += (joined.empty() ? "" : " ") + name;
        }
        return joined;
    }

    FolderScanner::Result result;
};

TEST_F(ScanSelection, LeavesOutWhatThePatternsSayAndCountsEachFileOrFolderLeftOut) {
    const struct {
        std::vector<std::pair<PathFilter::Rule, std::wstring>> patterns;
        std::string found;
        std::uint64_t excluded;
    } cases[] = {
        {{}, "Report.PDF a.zip inner.exe nc.exe readme.txt x.txt", 0},
        {{{kFile, L"\\.exe$"}}, "Report.PDF a.zip readme.txt x.txt", 2},
        {{{kFile, L"REPORT\\.pdf$"}, {kFile, L"readme"}}, "a.zip inner.exe nc.exe x.txt", 2},
        // On a folder's name: its files go, the folder is still entered.
        {{{kFile, L"\\\\docs\\\\"}}, "a.zip nc.exe readme.txt x.txt", 2},
        // Every folder of a name, at any depth and in any case, but not its neighbour.
        {{{kFolder, L"\\\\tools$"}}, "Report.PDF a.zip readme.txt x.txt", 2},
        // The path is full, from its drive: only the folder right below the root.
        {{{kFolder, L"^[a-z]:\\\\.*\\\\v\\\\tools$"}},
         "Report.PDF a.zip inner.exe readme.txt x.txt",
         1},
        {{{kFolder, L"\\.txt$"}}, "Report.PDF a.zip inner.exe nc.exe readme.txt x.txt", 0},
        {{{kOnly, L"\\.TXT$"}}, "readme.txt x.txt", 4},
        {{{kOnly, L"\\.exe$"}, {kOnly, L"\\.zip$"}, {kFolder, L"docs$"}}, "a.zip nc.exe", 3},
        {{{kOnly, L"\\.exe$"}, {kFile, L"nc\\.exe"}}, "inner.exe", 5},
        {{{kFolder, L"\\\\v$"}}, "", 1},  // the root itself
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(qv::ToUtf8(test.patterns.empty() ? L"" : test.patterns[0].second));
        EXPECT_EQ(ScanWith(test.patterns), test.found);
        EXPECT_EQ(result.counts.excluded, test.excluded);
    }
}

// Each pattern on its path, compared with what it must give; the mismatches on stderr. True when
// there are none. Long paths, up to what a volume can hold, must match as short ones do; and
// characters beyond ASCII stand for themselves, escaped or not, in brackets or not: none is read
// as the operator the narrow character set would make of it (a box corner as '+', the fullwidth
// asterisk as '*').
bool MatchesAsItShould() {
    std::vector<std::tuple<const wchar_t*, std::wstring, bool>> cases = {
        {L"\u2554", L"C:\\\u2554.txt", true},       {L"x\uFF0A", L"C:\\x\uFF0A", true},
        {L"^C:\\\\x\uFF0A$", L"C:\\xxx", false},    {L"\\\u2554", L"C:\\\u2554", true},
        {L"[\u2554-\u2557]$", L"C:\\\u2556", true}, {L"[\u2554-\u2557]$", L"C:\\+", false},
    };
    const std::pair<const wchar_t*, bool> patterns[] = {
        {L".*\\.exe$", false}, {L"(a|b)*c", true},    {L"^(?:[^\\\\]*\\\\)*x$", false},
        {L"GHI\\\\$", true},   {L"^c:\\\\abc", true}, {L"^abc", false}};
    for (const std::size_t length : {100u, 600u, 32000u}) {
        std::wstring path = L"C:\\";
        while (path.size() < length) {
            path += L"abcdefghi\\";
        }
        for (const auto& [pattern, matches] : patterns) {
            cases.emplace_back(pattern, path, matches);
        }
    }
    bool same = true;
    for (const auto& [pattern, path, skipped] : cases) {
        PathFilter filter;
        if (!filter.Add(kFile, pattern) || filter.SkipsFile(path) != skipped) {
            std::fprintf(stderr, "%ls on %zu characters\n", pattern, path.size());
            same = false;
        }
    }
    return same;
}

// A matcher that runs out of stack can end the process under Wine with exit code 0, as if every
// test had passed: the paths are matched in a child that must reach an exit code of its own.
TEST(PathFilterDeathTest, MatchesLongPathsAndCharactersBeyondAsciiWithoutRunningOutOfStack) {
    EXPECT_EXIT(std::exit(MatchesAsItShould() ? 42 : 43), ::testing::ExitedWithCode(42), "");
    // Long paths are matched in a mode without back-references, so no pattern may hold one.
    EXPECT_FALSE(PathFilter::IsValidPattern(L"(a)\\1"));
}

}  // namespace
