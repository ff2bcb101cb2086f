// Scans of archives on disk: listed members are found at any depth of nesting in every kind of
// archive and framing, with the chain of member names; damage is counted and read past; each
// limit stops what it should and says so; bombs end quickly in little memory.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/scan/DatabaseLoader.h"
#include "host/scan/EicarCheck.h"
#include "host/scan/FileHasher.h"
#include "host/scan/FolderScanner.h"
#include "sdk/Utf8.h"
#include "tests/host/TempTree.h"
#include "tests/scan/ArchiveWriter.h"

namespace {

using namespace devicescan::scan;
using namespace devicescan::testing_support;
using Lines = std::vector<std::string>;
using D = ZipItem::Descriptor;

const std::string kSample = [] {
    std::string sample;
    for (int i = 0; i < 40; ++i) {
        sample += "a listed sample, line " + std::to_string(i) + "\n";
    }
    return sample;
}();
const std::string kOther = std::string(kSample.size(), 'o');  // same size, not listed

std::string HexOf(HashType type, const std::string& content) {
    Digest digest;
    FileHasher::HashBytes(type, content.data(), content.size(), digest);
    return digest.Hex();
}

// What a scan reported: detections as "file|outer>inner Name", limits as
// "limit file|outer>inner name", relative to the tree.
struct Reported {
    FolderScanner::Result result;
    Lines detections;
    Lines limits;
};

class ArchiveScan : public ::testing::Test {
  protected:
    void SetUp() override {
        tree.Write(L"db\\sample.hdb", HexOf(HashType::kMd5, kSample) + ":" +
                                          std::to_string(kSample.size()) + ":Sample.Md5\n");
        ASSERT_EQ(DatabaseLoader(database).Load(tree.Path(L"db")), std::nullopt);
        database.Seal();
    }

    Reported Scan(const std::wstring& relative, FolderScanner::Options options = {}) {
        struct Recorder final : ScanObserver {
            explicit Recorder(std::string root) : root(std::move(root)) {}
            std::string Where(const std::wstring& path, const std::vector<std::string>& members) {
                std::string where = qv::ToUtf8(path).substr(root.size() + 1) + "|";
                for (std::size_t i = 0; i < members.size(); ++i) {
                    where += (i ? ">" : "") + members[i];
                }
                return where;
            }
            void OnDetection(const Detection& found) override {
                lines.push_back(Where(found.path, found.members) + " " + found.name);
            }
            void OnProgress(const ScanCounts&) override {}
            void OnLimit(const ScanLimit& limit) override {
                limits.push_back("limit " + Where(limit.path, limit.members) + " " + limit.limit);
            }
            std::string root;
            Lines lines;
            Lines limits;
        } recorder(qv::ToUtf8(tree.Path(L"v")));
        Reported reported;
        reported.result = FolderScanner(database, options).Scan(tree.Path(relative), {}, recorder);
        std::sort(recorder.lines.begin(), recorder.lines.end());
        reported.detections = recorder.lines;
        reported.limits = recorder.limits;
        return reported;
    }

    TempTree tree;
    SignatureDatabase database;
};

TEST_F(ArchiveScan, FindsListedMembersInEveryKindOfArchiveAtAnyDepth) {
    const ZipItem sample{"s.bin", kSample};
    const ZipItem other{"o.bin", kOther};
    const std::string zip = ZipOf({other, sample});
    const std::string longName = std::string(120, 'n') + "/s.bin";
    const std::string tar = TarOf({{"dir/", "", '5'}, {"o.bin", kOther}, {"t/s.bin", kSample}});
    const struct {
        const wchar_t* file;
        std::string content;
        Lines found;
        std::uint64_t archives;
        std::uint64_t members;
    } cases[] = {
        {L"deflated.zip", zip, {"deflated.zip|s.bin Sample.Md5"}, 1, 2},
        {L"stored.zip",
         ZipOf({{.name = "s.bin", .content = kSample, .deflate = false}}),
         {"stored.zip|s.bin Sample.Md5"},
         1,
         1},
        {L"described.zip",
         ZipOf({{.name = "a", .content = kOther, .descriptor = D::kUnsigned},
                {.name = "s.bin", .content = kSample, .descriptor = D::kSigned}}),
         {"described.zip|s.bin Sample.Md5"},
         1,
         2},
        {L"zip64.zip",
         ZipOf({{.name = "s.bin", .content = kSample, .descriptor = D::kSigned64, .zip64 = true}}),
         {"zip64.zip|s.bin Sample.Md5"},
         1,
         1},
        {L"names.zip",
         ZipOf({{.name = "\xE6\x96\x87.bin", .content = kSample, .utf8 = true},
                {.name = "\x82t\x82.bin", .content = kSample}}),
         {"names.zip|\xC3\xA9t\xC3\xA9.bin Sample.Md5", "names.zip|\xE6\x96\x87.bin Sample.Md5"},
         1,
         2},
        {L"named.gz", GzipOf(kSample, "inner.bin"), {"named.gz|inner.bin Sample.Md5"}, 1, 1},
        {L"unnamed.gz", GzipOf(kSample), {"unnamed.gz|unnamed Sample.Md5"}, 1, 1},
        {L"split.gz",
         GzipOf({{kSample.substr(0, 100)}, {kSample.substr(100)}}),
         {"split.gz|split Sample.Md5"},
         1,
         1},
        {L"ustar.tar",
         TarOf({{"o.bin", kOther}, {longName, kSample}}),
         {"ustar.tar|" + longName + " Sample.Md5"},
         1,
         2},
        {L"pax.tar",
         TarOf({{longName, kSample}}, TarFormat::kPax),
         {"pax.tar|" + longName + " Sample.Md5"},
         1,
         1},
        {L"gnu.tar",
         TarOf({{longName, kSample}}, TarFormat::kGnu),
         {"gnu.tar|" + longName + " Sample.Md5"},
         1,
         1},
        {L"a.tgz", GzipOf(tar), {"a.tgz|a.tar>t/s.bin Sample.Md5"}, 2, 3},
        {L"zip-in.tar", TarOf({{"in.zip", zip}}), {"zip-in.tar|in.zip>s.bin Sample.Md5"}, 2, 3},
        {L"nested.zip",
         ZipOf({{"mid.zip", ZipOf({other, {"in.zip", ZipOf({sample}), false}})}}),
         {"nested.zip|mid.zip>in.zip>s.bin Sample.Md5"},
         3,
         4},
        {L"tgz-in.zip",
         ZipOf({{"x.tar.gz", GzipOf(tar), false}}),
         {"tgz-in.zip|x.tar.gz>x.tar>t/s.bin Sample.Md5"},
         3,
         4},
        {L"plain.bin", kSample, {"plain.bin| Sample.Md5"}, 0, 0},
        {L"unlisted.zip", ZipOf({other}), {}, 1, 1},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(qv::ToUtf8(test.file));
        const std::wstring file = std::wstring(L"v\\") + test.file;
        tree.Write(file, test.content);
        const Reported reported = Scan(file);
        EXPECT_EQ(reported.detections, test.found);
        EXPECT_EQ(reported.result.counts.archives, test.archives);
        EXPECT_EQ(reported.result.counts.members, test.members);
        EXPECT_EQ(reported.result.counts.damaged, 0u);
        EXPECT_EQ(reported.limits, Lines{});
    }
}

// The archive is still a file: listed itself, it is found as itself, and its members as well.
// The built-in test file is found inside archives, sizes known or not.
TEST_F(ArchiveScan, ChecksTheArchiveItselfAndFindsTheTestFileInside) {
    const std::string zip = ZipOf({{"s.bin", kSample}, {"eicar.com", EicarCheck::Text()}});
    tree.Write(L"db\\zip.hsb", HexOf(HashType::kSha256, zip) + ":*:Whole.Zip\n");
    database = SignatureDatabase();
    ASSERT_EQ(DatabaseLoader(database).Load(tree.Path(L"db")), std::nullopt);
    database.Seal();
    tree.Write(L"v\\a.zip", zip);
    tree.Write(L"v\\t.gz", GzipOf(EicarCheck::Text() + "\r\n", "t.com"));
    const Reported reported = Scan(L"v");
    EXPECT_EQ(reported.detections, (Lines{"a.zip| Whole.Zip", "a.zip|eicar.com EICAR-Test-File",
                                          "a.zip|s.bin Sample.Md5", "t.gz|t.com EICAR-Test-File"}));
    EXPECT_EQ(reported.result.counts.threats, 4u);
}

TEST_F(ArchiveScan, CountsDamageAndChecksWhatCanBeRead) {
    const std::string zip = ZipOf({{"o.bin", kOther}, {"s.bin", kSample}});
    const std::string members = zip.substr(0, zip.find("PK\x01\x02"));
    std::string badCrc = GzipOf(kSample);
    badCrc[badCrc.size() - 6] ^= 1;
    const std::string tar = TarOf({{"s.bin", kSample}, {"o.bin", kOther}});
    const std::string tgz = GzipOf(tar);
    std::string badHeader = tar;
    badHeader[512 + TarPadded(kSample).size() + 1] ^= 1;  // the second header's name
    const struct {
        const wchar_t* file;
        std::string content;
        Lines found;
    } cases[] = {
        {L"no-directory.zip", members, {"no-directory.zip|s.bin Sample.Md5"}},
        {L"cut.zip", members.substr(0, members.size() - 5), {}},
        {L"bad-crc.zip",
         ZipOf({{.name = "s.bin", .content = kSample, .crcXor = 1}}),
         {"bad-crc.zip|s.bin Sample.Md5"}},
        {L"lying.zip",
         ZipOf({{.name = "s.bin", .content = kSample + "x", .sizeDelta = -1}}),
         {"lying.zip|s.bin Sample.Md5"}},
        {L"only-starts.zip", "PK\x03\x04" + std::string(300, '\xEE'), {}},
        {L"bad-crc.gz", badCrc, {"bad-crc.gz|bad-crc Sample.Md5"}},
        {L"cut.tgz", tgz.substr(0, tgz.size() - 30), {"cut.tgz|cut.tar>s.bin Sample.Md5"}},
        {L"bad-header.tar", badHeader, {"bad-header.tar|s.bin Sample.Md5"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(qv::ToUtf8(test.file));
        const std::wstring file = std::wstring(L"v\\") + test.file;
        tree.Write(file, test.content);
        tree.Write(L"db\\self.hsb", HexOf(HashType::kSha256, test.content) + ":*:Self\n");
        database = SignatureDatabase();
        ASSERT_EQ(DatabaseLoader(database).Load(tree.Path(L"db")), std::nullopt);
        database.Seal();
        const Reported reported = Scan(file);
        Lines found = test.found;
        found.insert(found.begin(), qv::ToUtf8(test.file) + "| Self");  // read whole all the same
        EXPECT_EQ(reported.detections, found);
        EXPECT_EQ(reported.result.outcome, FolderScanner::Outcome::kFinished);
        EXPECT_EQ(reported.result.counts.damaged, 1u);
        EXPECT_EQ(reported.result.counts.errors, 0u);
    }
}

// Each limit, set low: what it stops is not checked (or not whole) and is told once.
TEST_F(ArchiveScan, EachLimitStopsWhatItShouldAndSaysSo) {
    const ZipItem sample{"s.bin", kSample};
    const auto numbered = [&](int i) { return ZipItem{std::to_string(i) + ".bin", kSample}; };
    const std::string three = ZipOf({numbered(1), numbered(2), numbered(3)});
    const std::string nested = ZipOf({{"mid.zip", ZipOf({{"in.zip", ZipOf({sample})}})}});
    const auto with = [](auto change) {
        FolderScanner::Options options;
        change(options);
        return options;
    };
    const auto fileSize = with([](auto& o) { o.maxFileSize = 500; });
    const struct {
        const wchar_t* file;
        std::string content;
        FolderScanner::Options options;
        Lines found;
        Lines limits;
    } cases[] = {
        {L"member.zip", ZipOf({sample}), fileSize, {}, {"limit member.zip|s.bin max-filesize"}},
        {L"stream.gz", GzipOf(kSample), fileSize, {}, {"limit stream.gz|stream max-filesize"}},
        {L"file.bin", kSample, fileSize, {}, {"limit file.bin| max-filesize"}},
        {L"scan.zip",
         three,
         with([](auto& o) { o.maxScanSize = kSample.size() * 3 / 2; }),
         {"scan.zip|1.bin Sample.Md5"},
         {"limit scan.zip|2.bin max-scansize"}},
        {L"files.zip",
         three,
         with([](auto& o) { o.maxFiles = 2; }),
         {"files.zip|1.bin Sample.Md5", "files.zip|2.bin Sample.Md5"},
         {"limit files.zip| max-files"}},
        {L"deep.zip",
         nested,
         with([](auto& o) { o.maxRecursion = 2; }),
         {},
         {"limit deep.zip|mid.zip>in.zip max-recursion"}},
        {L"deepest.zip",
         nested,
         with([](auto& o) { o.maxRecursion = 3; }),
         {"deepest.zip|mid.zip>in.zip>s.bin Sample.Md5"},
         {}},
        {L"closed.zip", three, with([](auto& o) { o.openArchives = false; }), {}, {}},
        {L"method.zip",
         ZipOf({{.name = "s.bin", .content = kSample, .method = 12}, sample}),
         {},
         {"method.zip|s.bin Sample.Md5"},
         {"limit method.zip|s.bin unsupported-compression"}},
        {L"locked.zip",
         ZipOf({{.name = "l.bin", .content = kSample, .encrypted = true}, sample}),
         {},
         {"locked.zip|s.bin Sample.Md5"},
         {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(qv::ToUtf8(test.file));
        const std::wstring file = std::wstring(L"v\\") + test.file;
        tree.Write(file, test.content);
        const Reported reported = Scan(file, test.options);
        EXPECT_EQ(reported.detections, test.found);
        EXPECT_EQ(reported.limits, test.limits);
        EXPECT_EQ(reported.result.counts.limited, test.limits.size());
        EXPECT_EQ(reported.result.counts.damaged, 0u);
    }
    EXPECT_EQ(Scan(L"v\\locked.zip").result.counts.encrypted, 1u);
    EXPECT_EQ(Scan(L"v\\closed.zip", cases[7].options).result.counts.archives, 0u);
}

// Archives that inflate to gigabytes from a few megabytes, scanned with the default limits:
// each ends in seconds, with memory bounded by the nesting, not by what the archive declares.
TEST_F(ArchiveScan, BombsEndQuicklyInBoundedMemory) {
    const ZeroStream twoGiB = DeflatedZeros(2048);
    const ZeroStream halfGiB = DeflatedZeros(512);
    const ZeroStream small = DeflatedZeros(64);
    std::vector<ZipItem> copies;
    for (int i = 0; i < 10; ++i) {
        copies.push_back({.name = std::to_string(i), .descriptor = D::kSigned, .zeros = &small});
    }
    std::string nested = ZipOf(copies);
    for (int level = 0; level < 2; ++level) {
        for (ZipItem& copy : copies) {
            copy = {.name = copy.name + ".zip", .content = nested, .descriptor = D::kSigned};
        }
        nested = ZipOf(copies);
    }
    const struct {
        const wchar_t* file;
        std::string content;
        Lines limits;
    } cases[] = {
        {L"declared.zip",
         ZipOf({{.name = "z", .zeros = &twoGiB}}),
         {"limit declared.zip|z max-filesize"}},
        {L"hidden.zip",
         ZipOf({{.name = "z", .descriptor = D::kUnsigned, .zeros = &twoGiB}}),
         {"limit hidden.zip|z max-filesize", "limit hidden.zip|z max-scansize"}},
        {L"zeros.gz", GzipOf({{.zeros = &halfGiB}}), {"limit zeros.gz|zeros max-filesize"}},
        {L"nested.zip", nested, {"limit nested.zip|0.zip.zip>0.zip>5 max-scansize"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(qv::ToUtf8(test.file));
        const std::wstring file = std::wstring(L"v\\") + test.file;
        tree.Write(file, test.content);
        PROCESS_MEMORY_COUNTERS before{}, after{};
        GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
        const ULONGLONG start = GetTickCount64();
        const Reported reported = Scan(file);
        const ULONGLONG took = GetTickCount64() - start;
        GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
        EXPECT_EQ(reported.limits, test.limits);
        EXPECT_EQ(reported.result.outcome, FolderScanner::Outcome::kFinished);
        EXPECT_LT(took, 20000u);
        EXPECT_LT(after.PeakPagefileUsage - before.PeakPagefileUsage, 64u << 20);
        std::printf("%s: %llu ms\n", qv::ToUtf8(test.file).c_str(), took);
    }
}

}  // namespace
