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
#include "tests/support/ArchiveWriter.h"
#include "tests/support/TempTree.h"

namespace {

using namespace devicescan::scan;
using namespace test_support;
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

// Every framing and every mix, then damage: each archive on its own, with a database that lists
// the sample and the archive file itself. The file is always read whole; a member is found with
// its chain of names; damage is counted once per file, and what came before it is still checked.
TEST_F(ArchiveScan, FindsMembersInEveryFramingAndMixAndReadsPastDamage) {
    const ZipItem sample{"s.bin", kSample};
    const ZipItem other{"o.bin", kOther};
    const std::string zip = ZipOf({other, sample});
    const std::string longName = std::string(120, 'n') + "/s.bin";
    const std::string tar = TarOf({{"dir/", "", '5'}, {"o.bin", kOther}, {"t/s.bin", kSample}});
    const std::string records =
        PaxRecord("size", std::to_string(kSample.size())) + PaxRecord("path", "p/s.bin");
    const std::string paxSize = TarHeader("g", 4, 'g', TarFormat::kPax) + TarPadded("junk") +
                                TarHeader("x", records.size(), 'x', TarFormat::kPax) +
                                TarPadded(records) + TarHeader("short", 0, '0', TarFormat::kPax) +
                                TarPadded(kSample);
    const std::string members = zip.substr(0, zip.find("PK\x05\x06"));
    std::string badHeader = TarOf({{"s.bin", kSample}, {"o.bin", kOther}});
    badHeader[512 + TarPadded(kSample).size() + 1] ^= 1;  // the second header's name
    std::string notTar = TarHeader("s.bin", 0, '0', TarFormat::kUstar) + kSample;
    notTar[0] ^= 1;
    std::string gzipCrc = GzipOf(kSample);
    gzipCrc[gzipCrc.size() - 6] ^= 1;
    std::string noise(20000, '\0');
    for (std::size_t i = 0, x = 1; i < noise.size(); ++i) {
        x = x * 1103515245 + 12345;
        noise[i] = static_cast<char>(x >> 16);
    }
    const std::string tgz = GzipOf(TarOf({{"s.bin", kSample}, {"r.bin", noise}}));
    const struct {
        const wchar_t* file;
        std::string content;
        Lines found;         // besides the file itself
        const char* counts;  // archives, members, damaged
    } cases[] = {
        {L"deflated.zip", zip, {"|s.bin"}, "1 2 0"},
        {L"stored.zip",
         ZipOf({{.name = "s.bin", .content = kSample, .deflate = false, .zip64 = true}}),
         {"|s.bin"},
         "1 1 0"},
        {L"described.zip",
         ZipOf({{.name = "o", .content = kOther, .descriptor = D::kUnsigned},
                {.name = "s", .content = kSample, .descriptor = D::kSigned64}}),
         {"|s"},
         "1 2 0"},
        {L"names.zip",
         ZipOf({{.name = "\xE6\x96\x87", .content = kSample, .utf8 = true},
                {.name = "\x82t\x82", .content = kSample}}),
         {"|\xC3\xA9t\xC3\xA9", "|\xE6\x96\x87"},
         "1 2 0"},
        {L"named.gz", GzipOf(kSample, "in.bin"), {"|in.bin"}, "1 1 0"},
        {L"split.gz",
         GzipOf({{kSample.substr(0, 100)}, {kSample.substr(100)}}),
         {"|split"},
         "1 1 0"},
        {L"ustar.tar", TarOf({{"o.bin", kOther}, {longName, kSample}}), {"|" + longName}, "1 2 0"},
        {L"pax.tar", TarOf({{longName, kSample}}, TarFormat::kPax), {"|" + longName}, "1 1 0"},
        {L"gnu.tar", TarOf({{longName, kSample}}, TarFormat::kGnu), {"|" + longName}, "1 1 0"},
        {L"pax-size.tar", paxSize, {"|p/s.bin"}, "1 1 0"},
        {L"a.tgz", GzipOf(tar), {"|a.tar>t/s.bin"}, "2 3 0"},
        {L"zip-in.tar", TarOf({{"in.zip", zip}}), {"|in.zip>s.bin"}, "2 3 0"},
        {L"nested.zip",
         ZipOf({{"mid.zip", ZipOf({other, {"in.zip", ZipOf({sample}), false}})}}),
         {"|mid.zip>in.zip>s.bin"},
         "3 4 0"},
        {L"tgz-in.zip",
         ZipOf({{"x.tar.gz", GzipOf(tar), false}}),
         {"|x.tar.gz>x.tar>t/s.bin"},
         "3 4 0"},
        {L"plain.bin", kSample, {"|"}, "0 0 0"},
        {L"not-a-tar.bin", notTar, {}, "0 0 0"},
        {L"no-directory.zip", members, {"|s.bin"}, "1 2 1"},
        {L"cut.zip", members.substr(0, members.size() - 5), {}, "1 2 1"},
        {L"bad-crc.zip",
         ZipOf({{.name = "c", .content = kSample, .crcXor = 1}, sample}),
         {"|c", "|s.bin"},
         "1 2 1"},
        {L"lying.zip",
         ZipOf({{.name = "l", .content = kSample + "x", .sizeDelta = -1}, sample}),
         {"|l", "|s.bin"},
         "1 2 1"},
        {L"stored-described.zip",
         ZipOf({{.name = "d", .content = kSample, .deflate = false, .descriptor = D::kSigned},
                sample}),
         {},
         "1 1 1"},
        {L"only-starts.zip", "PK\x03\x04" + std::string(300, '\xEE'), {}, "1 0 1"},
        {L"bad-crc.gz", gzipCrc, {"|bad-crc"}, "1 1 1"},
        {L"junk-after.gz", GzipOf(kSample) + "junk", {"|junk-after"}, "1 1 1"},
        {L"bad-header.tar", badHeader, {"|s.bin"}, "1 1 1"},
        {L"cut.tgz", tgz.substr(0, tgz.size() - 5000), {"|cut.tar>s.bin"}, "2 3 1"},
    };
    for (const auto& test : cases) {
        const std::string name = qv::ToUtf8(test.file);
        SCOPED_TRACE(name);
        tree.Write(std::wstring(L"v\\") + test.file, test.content);
        tree.Write(L"db\\self.hsb", HexOf(HashType::kSha256, test.content) + ":*:Self\n");
        database = SignatureDatabase();
        ASSERT_EQ(DatabaseLoader(database).Load(tree.Path(L"db")), std::nullopt);
        database.Seal();
        const Reported reported = Scan(std::wstring(L"v\\") + test.file);
        Lines found{name + "| Self"};
        for (const std::string& member : test.found) {
            found.push_back(name + member + " Sample.Md5");
        }
        std::sort(found.begin(), found.end());
        EXPECT_EQ(reported.detections, found);
        const ScanCounts& counts = reported.result.counts;
        EXPECT_EQ(std::to_string(counts.archives) + " " + std::to_string(counts.members) + " " +
                      std::to_string(counts.damaged),
                  test.counts);
        EXPECT_EQ(counts.errors, 0u);
        EXPECT_EQ(reported.limits, Lines{});
    }
}

// The archive is still a file: listed itself, it is found as itself, and its members as well.
// The built-in test file is found inside archives, sizes known or not.
TEST_F(ArchiveScan, FindsTheTestFileInsideArchives) {
    tree.Write(L"v\\a.zip", ZipOf({{"s.bin", kSample}, {"eicar.com", EicarCheck::Text()}}));
    tree.Write(L"v\\t.gz", GzipOf(EicarCheck::Text() + "\r\n", "t.com"));
    EXPECT_EQ(Scan(L"v").detections,
              (Lines{"a.zip|eicar.com EICAR-Test-File", "a.zip|s.bin Sample.Md5",
                     "t.gz|t.com EICAR-Test-File"}));
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
        {L"nested.zip", nested, {"limit nested.zip|0.zip.zip>0.zip>6 max-scansize"}},
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

// A cancel during an archive ends the scan there: nothing more is inflated or reported.
TEST_F(ArchiveScan, StopsInsideAnArchiveWhenCancelled) {
    const ZeroStream zeros = DeflatedZeros(1024);
    tree.Write(L"v\\c.zip", ZipOf({{"s.bin", kSample},
                                   {.name = "z", .descriptor = D::kSigned, .zeros = &zeros},
                                   {"t.bin", kSample}}));
    struct Canceller final : ScanObserver {
        void OnDetection(const Detection&) override {
            ++detections;
            cancel.Set();
        }
        void OnProgress(const ScanCounts&) override {}
        void OnLimit(const ScanLimit&) override { ++limits; }
        CancelFlag cancel;
        int detections = 0;
        int limits = 0;
    } canceller;
    const auto result =
        FolderScanner(database, {}).Scan(tree.Path(L"v"), canceller.cancel, canceller);
    EXPECT_EQ(result.outcome, FolderScanner::Outcome::kCancelled);
    EXPECT_EQ(canceller.detections, 1);
    EXPECT_EQ(canceller.limits, 0) << "the zeros were never inflated to the file size limit";
    EXPECT_EQ(result.counts.members, 2u);
}

}  // namespace
