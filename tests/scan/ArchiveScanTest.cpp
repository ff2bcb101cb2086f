// Scans of archives on disk: listed members are found at any depth of nesting in every kind of
// archive and framing, with the chain of member names; damage is counted and read past; each
// limit stops what it should and says so; bombs end quickly in little memory.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/scan/DatabaseLoader.h"
#include "host/scan/EicarCheck.h"
#include "host/scan/FileHasher.h"
#include "host/scan/FolderScanner.h"
#include "host/scan/archive/ReadAheadSource.h"
#include "sdk/Utf8.h"
#include "tests/support/ContainerWriter.h"
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

// A database listing the sample by MD5 and self (the archive itself) by SHA-256, each with its
// size: members of other sizes need no SHA-256 unless they may be the test file.
void Load(const TempTree& tree, SignatureDatabase& database, const std::string& self) {
    tree.Write(L"db\\sample.hdb", HexOf(HashType::kMd5, kSample) + ":" +
                                      std::to_string(kSample.size()) + ":Sample.Md5\n");
    tree.Write(L"db\\self.hsb",
               HexOf(HashType::kSha256, self) + ":" + std::to_string(self.size()) + ":Self\n");
    ASSERT_EQ(DatabaseLoader(database).Load(tree.Path(L"db")), std::nullopt);
    database.Seal();
}

// Records detections as "path|outer>inner Name" and limits as "path|outer>inner name", the
// path relative to root (empty when it is root); cancels the scan at the first detection if asked.
struct Recorder final : ScanObserver {
    Recorder(const std::wstring& root, bool cancelOnDetection)
        : root(qv::ToUtf8(root)), cancelOnDetection(cancelOnDetection) {}
    std::string Where(const std::wstring& path, const Lines& members) {
        std::string where = qv::ToUtf8(path).substr(root.size()) + "|";
        for (std::size_t i = 0; i < members.size(); ++i) {
            where += (i ? ">" : "") + members[i];
        }
        return where;
    }
    void OnDetection(const Detection& found) override {
        detections.push_back(Where(found.path, found.members) + " " + found.name);
        if (cancelOnDetection) {
            cancel.Set();
        }
    }
    void OnProgress(const ScanCounts&) override {}
    void OnLimit(const ScanLimit& limit) override {
        limits.push_back(Where(limit.path, limit.members) + " " + limit.limit);
    }
    std::string root;
    bool cancelOnDetection;
    CancelFlag cancel;
    Lines detections;
    Lines limits;
};

// Each archive on its own: every framing and mix, damage, each limit set low, and bombs that
// inflate to gigabytes from a few megabytes. The file is always read whole when it fits; a member
// is found with its chain of names; damage is counted once per file and what came before it is
// still checked; a limit stops what it should and is told once; every scan ends within seconds,
// with memory bounded by the nesting, not by what the archive declares.
TEST(ArchiveScan, FindsMembersMeetsLimitsAndReadsPastDamage) {
    const ZipItem sample{"s.bin", kSample};
    const ZipItem other{"o.bin", kOther};
    const std::string zip = ZipOf({other, sample});
    const std::string longName = std::string(120, 'n') + "/s.bin";
    const std::string tar = TarOf({{"dir/", "", '5'}, {"o.bin", kOther}, {"t/s.bin", kSample}});
    const std::string records =
        PaxRecord("size", std::to_string(kSample.size())) + PaxRecord("path", "p/s.bin");
    const std::string paxSize = TarHeader("g", 4, 'g') + TarPadded("junk") +
                                TarHeader("x", records.size(), 'x') + TarPadded(records) +
                                TarHeader("short", 0) + TarPadded(kSample);
    const std::string members = zip.substr(0, zip.find("PK\x05\x06"));
    std::string badHeader = TarOf({{"s.bin", kSample}, {"o.bin", kOther}});
    // A name changed under its header's checksum: the second header is damaged, notTar no tar.
    badHeader[512 + TarPadded(kSample).size() + 1] = 'x';
    const std::string notTar = TarHeader("s.bin", 0).replace(0, 1, "r") + kSample;
    std::string gzipCrc = GzipOf(kSample);
    gzipCrc[gzipCrc.size() - 6] ^= 1;  // in the CRC
    std::string noise(20000, '\0');    // bytes that do not compress
    std::generate(noise.begin(), noise.end(), [x = 1u]() mutable {
        return static_cast<char>((x = x * 1103515245 + 12345) >> 16);
    });
    const std::string tgz = GzipOf(TarOf({{"s.bin", kSample}, {"r.bin", noise}}));
    const ZipItem stored{.name = "s.bin", .content = kSample, .deflate = false, .zip64 = true};
    const ZipItem described{.name = "s", .content = kSample, .descriptor = D::kSigned64};
    const ZipItem unsized{.name = "o", .content = kOther, .descriptor = D::kUnsigned};
    const ZipItem cp437{"\x82t\x82", kSample};
    const ZipItem utf8{.name = "\xE6\x96\x87", .content = kSample, .utf8 = true};
    const ZipItem badCrc{.name = "c", .content = kSample, .crcXor = 1};
    const ZipItem lying{.name = "l", .content = kSample + "x", .sizeDelta = -1};
    const ZipItem storedUnsized{
        .name = "d", .content = kSample, .deflate = false, .descriptor = D::kSigned};
    const ZipItem method{.name = "m", .content = kSample, .method = 12};
    const ZipItem locked{.name = "l.bin", .content = kSample, .encrypted = true};
    const std::string nested = ZipOf({{"mid.zip", ZipOf({other, {"in.zip", ZipOf({sample})}})}});
    const std::string tgzOfTar = GzipOf(tar);
    const std::string three = ZipOf({{"1.bin", kSample}, {"2.bin", kSample}, {"3.bin", kSample}});
    const std::string eicar = EicarCheck::Text();
    const FolderScanner::Options tiny{.maxFileSize = 500};
    const ZeroStream twoGiB = DeflatedZeros(2048);
    const ZeroStream small = DeflatedZeros(64);
    const ZipItem declared{.name = "z", .zeros = &twoGiB};
    const ZipItem hidden{.name = "z", .descriptor = D::kUnsigned, .zeros = &twoGiB};
    std::string bomb;  // ten zips of ten zips of ten members of 64 MiB of zeros
    for (int level = 0; level < 3; ++level) {
        std::vector<ZipItem> copies(10, {.content = bomb, .descriptor = D::kSigned});
        for (std::size_t i = 0; i < copies.size(); ++i) {
            copies[i].name = std::to_string(i) + (level == 0 ? "" : ".zip");
            copies[i].zeros = level == 0 ? &small : nullptr;
        }
        bomb = ZipOf(copies);
    }
    const std::string n = "|" + longName;
    // found: in the archive's order, besides the file itself, "|outer>inner" for the sample, then
    // the name if not its;
    // limits: "|outer>inner limit";
    // counts: archives, members, damaged and encrypted, a digit each.
    const struct {
        const wchar_t* file;
        std::string content;
        Lines found;
        const char* counts;
        Lines limits = {};
        FolderScanner::Options options = {};
    } cases[] = {
        {L"deflated.zip", zip, {"|s.bin"}, "1200"},
        {L"stored.zip", ZipOf({stored}), {"|s.bin"}, "1100"},
        {L"described.zip", ZipOf({unsized, described}), {"|s"}, "1200"},
        {L"names.zip", ZipOf({utf8, cp437}), {"|\xE6\x96\x87", "|\xC3\xA9t\xC3\xA9"}, "1200"},
        {L"named.gz", GzipOf(kSample, "in.bin"), {"|in.bin"}, "1100"},
        {L"split.gz", GzipOf({{kSample.substr(0, 99)}, {kSample.substr(99)}}), {"|split"}, "1100"},
        {L"ustar.tar", TarOf({{"o.bin", kOther}, {longName, kSample}}), {n}, "1200"},
        {L"pax.tar", TarOf({{longName, kSample}}, TarFormat::kPax), {n}, "1100"},
        {L"gnu.tar", TarOf({{longName, kSample}}, TarFormat::kGnu), {n}, "1100"},
        {L"pax-size.tar", paxSize, {"|p/s.bin"}, "1100"},
        {L"a.tgz", tgzOfTar, {"|a.tar>t/s.bin"}, "2300"},
        {L"zip-in.tar", TarOf({{"in.zip", zip}}), {"|in.zip>s.bin"}, "2300"},
        {L"nested.zip", nested, {"|mid.zip>in.zip>s.bin"}, "3400"},
        {L"tgz.zip", ZipOf({{"x.tar.gz", tgzOfTar, false}}), {"|x.tar.gz>x.tar>t/s.bin"}, "3400"},
        {L"eicar.zip", ZipOf({sample, {"e", eicar}}), {"|s.bin", "|e EICAR-Test-File"}, "1200"},
        {L"eicar.gz", GzipOf(eicar + "\r\n", "t.com"), {"|t.com EICAR-Test-File"}, "1100"},
        {L"plain.bin", kSample, {"|"}, "0000"},
        {L"not-a-tar.bin", notTar, {}, "0000"},
        {L"no-directory.zip", members, {"|s.bin"}, "1210"},
        {L"cut.zip", members.substr(0, members.size() - 5), {}, "1210"},
        {L"bad-crc.zip", ZipOf({badCrc, sample}), {"|c", "|s.bin"}, "1210"},
        {L"lying.zip", ZipOf({lying, sample}), {"|l", "|s.bin"}, "1210"},
        {L"stored-described.zip", ZipOf({storedUnsized, sample}), {}, "1110"},
        {L"only-starts.zip", "PK\x03\x04" + std::string(300, '\xEE'), {}, "1010"},
        {L"bad-crc.gz", gzipCrc, {"|bad-crc"}, "1110"},
        {L"junk-after.gz", GzipOf(kSample) + "junk", {"|junk-after"}, "1110"},
        {L"bad-header.tar", badHeader, {"|s.bin"}, "1110"},
        {L"cut.tgz", tgz.substr(0, tgz.size() - 5000), {"|cut.tar>s.bin"}, "2310"},
        {L"member.zip", ZipOf({sample}), {}, "1100", {"|s.bin max-filesize"}, tiny},
        {L"stream.gz", GzipOf(kSample), {}, "1100", {"|stream max-filesize"}, tiny},
        {L"file.bin", kSample, {}, "0000", {"| max-filesize"}, tiny},
        {L"at-limit.bin", kSample, {"|"}, "0000", {}, {.maxFileSize = kSample.size()}},
        {L"scan.zip", three, {"|1.bin"}, "1200", {"|2.bin max-scansize"}, {.maxScanSize = 1500}},
        {L"files.zip", three, {"|1.bin", "|2.bin"}, "1200", {"| max-files"}, {.maxFiles = 2}},
        {L"deep.zip", nested, {}, "2300", {"|mid.zip>in.zip max-recursion"}, {.maxRecursion = 2}},
        {L"deepest.zip", nested, {"|mid.zip>in.zip>s.bin"}, "3400", {}, {.maxRecursion = 3}},
        {L"closed.zip", three, {}, "0000", {}, {.openArchives = false}},
        {L"m.zip", ZipOf({method, sample}), {"|s.bin"}, "1200", {"|m unsupported-compression"}},
        {L"locked.zip", ZipOf({locked, sample}), {"|s.bin"}, "1201"},
        {L"declared.zip", ZipOf({declared}), {}, "1100", {"|z max-filesize"}},
        {L"hidden.zip", ZipOf({hidden}), {}, "1100", {"|z max-filesize", "|z max-scansize"}},
        {L"zeros.gz", GzipOf({{.zeros = &twoGiB}}), {}, "1100", {"|zeros max-filesize"}},
        {L"bomb.zip", bomb, {}, "3900", {"|0.zip>0.zip>6 max-scansize"}},
    };
    TempTree tree;
    for (const auto& test : cases) {
        SCOPED_TRACE(qv::ToUtf8(test.file));
        const std::wstring file = std::wstring(L"v\\") + test.file;
        tree.Write(file, test.content);
        SignatureDatabase database;
        Load(tree, database, test.content);
        Recorder recorder(tree.Path(file), false);
        PROCESS_MEMORY_COUNTERS before{}, after{};
        GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
        const ULONGLONG start = GetTickCount64();
        const auto result =
            FolderScanner(database, test.options).Scan(tree.Path(file), {}, recorder);
        EXPECT_LT(GetTickCount64() - start, 20000u);
        GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
        EXPECT_LT(after.PeakPagefileUsage - before.PeakPagefileUsage, 64u << 20);
        Lines found;
        for (const std::string& member : test.found) {
            found.push_back(member + (member.find(' ') == std::string::npos ? " Sample.Md5" : ""));
        }
        // The whole file is reported after its members, unless it is too large to be read.
        found.resize(found.size() + (test.content.size() <= test.options.maxFileSize), "| Self");
        EXPECT_EQ(recorder.detections, found);
        EXPECT_EQ(recorder.limits, test.limits);
        const ScanCounts& counts = result.counts;
        EXPECT_EQ(std::to_string(counts.archives) + std::to_string(counts.members) +
                      std::to_string(counts.damaged) + std::to_string(counts.encrypted),
                  test.counts);
        EXPECT_EQ(counts.limited, test.limits.size());
        EXPECT_EQ(counts.files, 1u) << "an archive, opened or not, is one file checked";
        EXPECT_EQ(counts.errors, 0u);
        EXPECT_EQ(result.outcome, FolderScanner::Outcome::kFinished);
    }
}

// Two walks of a folder with a database of the sample. Limits and damage are per file on disk:
// after a damaged archive, two that each stay just within the limits are read whole in the same
// walk, and neither counts as damaged (the walk takes a folder's files before its subfolders, so
// the damaged one comes first). A cancel during an archive ends the scan there: nothing more is
// inflated or reported.
TEST(ArchiveScan, StartsLimitsAndDamageAfreshWithEachFileAndStopsInsideAnArchiveWhenCancelled) {
    const std::string three = ZipOf({{"1.bin", kSample}, {"2.bin", kSample}, {"3.bin", kSample}});
    const ZeroStream zeros = DeflatedZeros(1024);
    TempTree tree;
    tree.Write(L"v\\no-directory.zip", three.substr(0, three.find("PK\x05\x06")));
    tree.Write(L"v\\later\\a.zip", three);
    tree.Write(L"v\\later\\b.zip", three);
    tree.Write(L"c\\c.zip", ZipOf({{"s.bin", kSample},
                                   {.name = "z", .descriptor = D::kSigned, .zeros = &zeros},
                                   {"t.bin", kSample}}));
    SignatureDatabase database;
    Load(tree, database, "not here");
    Recorder recorder(tree.Path(L"v\\"), false);
    const FolderScanner::Options limits{.maxScanSize = 3 * kSample.size() + 1, .maxFiles = 3};
    const auto result = FolderScanner(database, limits).Scan(tree.Path(L"v"), {}, recorder);
    EXPECT_EQ(recorder.limits, Lines{});
    EXPECT_EQ(recorder.detections.size(), 9u);
    EXPECT_EQ(result.counts.damaged, 1u);

    Recorder canceller(tree.Path(L"c\\"), true);
    const auto cancelled =
        FolderScanner(database, {}).Scan(tree.Path(L"c"), canceller.cancel, canceller);
    EXPECT_EQ(cancelled.outcome, FolderScanner::Outcome::kCancelled);
    EXPECT_EQ(canceller.detections, Lines{"c.zip|s.bin Sample.Md5"});
    EXPECT_EQ(canceller.limits, Lines{}) << "the zeros were never inflated to the file size limit";
    EXPECT_EQ(cancelled.counts.members, 2u);
}

// Bytes numbered from 0 (each its number's low byte), then an end of the kind asked for, a failed
// read with the code 23. Counts its reads, to show nothing reads it once the read-ahead is gone.
class NumberedBytes final : public archive::ByteSource {
  public:
    NumberedBytes(std::size_t size, End end) : size(size), end(end) {}
    std::size_t reads = 0;

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t want) override {
        ++reads;
        const std::size_t take = std::min(want, std::min<std::size_t>(size - given, 100000));
        for (std::size_t i = 0; i < take; ++i) {
            buffer[i] = static_cast<std::uint8_t>(given + i);
        }
        given += take;
        return take != 0 ? take : Stop(end, end == End::kReadFailed ? 23 : 0);
    }
    std::size_t size;
    std::size_t given = 0;
    End end;
};

// Read through the read-ahead thread, every byte comes once and in order, whatever the sizes of
// the source, of its blocks and of the reads, and the stream ends as the source below ended. A
// read-ahead dropped half-way stops its thread: the source below is not read again.
TEST(ArchiveReadAhead, GivesEveryByteInOrderEndsAsTheSourceBelowAndStopsWhenDropped) {
    using End = archive::ByteSource::End;
    constexpr std::size_t kBlock = archive::ReadAheadSource::kBlockSize;
    for (const std::size_t size :
         {std::size_t{0}, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock, 7 * kBlock + 12345}) {
        for (const End end : {End::kFinished, End::kDamaged, End::kReadFailed}) {
            for (const std::size_t readSize : {std::size_t{1000}, kBlock + 3}) {
                SCOPED_TRACE(std::to_string(size) + " bytes, reads of " + std::to_string(readSize) +
                             ", end " + std::to_string(static_cast<int>(end)));
                NumberedBytes below(size, end);
                archive::ReadAheadSource ahead(below);
                std::vector<std::uint8_t> buffer(readSize);
                std::size_t total = 0;
                std::size_t wrong = 0;
                while (const std::size_t got = ahead.Read(buffer.data(), buffer.size())) {
                    for (std::size_t i = 0; i < got; ++i) {
                        wrong += buffer[i] != static_cast<std::uint8_t>(total + i);
                    }
                    total += got;
                }
                EXPECT_EQ(total, size);
                EXPECT_EQ(wrong, 0u);
                EXPECT_EQ(ahead.Ended(), end);
                EXPECT_EQ(ahead.Error(), end == End::kReadFailed ? 23u : 0u);
                EXPECT_EQ(ahead.Read(buffer.data(), 1), 0u) << "an ended stream stays ended";
            }
        }
    }
    NumberedBytes below(64 * kBlock, End::kFinished);
    {
        archive::ReadAheadSource ahead(below);
        std::vector<std::uint8_t> buffer(3 * kBlock);
        EXPECT_EQ(ahead.ReadFully(buffer.data(), buffer.size()), buffer.size());
    }
    const std::size_t reads = below.reads;
    Sleep(50);
    EXPECT_EQ(below.reads, reads) << "dropped, it reads no more";
    EXPECT_LT(reads * 100000, 10 * kBlock) << "read at most a few blocks ahead";
}

}  // namespace
