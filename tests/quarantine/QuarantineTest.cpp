// The quarantine on real files, with the file operations failed on purpose where the real file
// system will not fail them: whatever fails, the original stays whole, no partial copy is left
// and the manifest lists only what the folder holds; what succeeds goes back by a restore.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>

#include "host/quarantine/Quarantine.h"
#include "host/quarantine/QuarantineRestore.h"
#include "host/scan/HashObject.h"
#include "tests/quarantine/FaultyFileSystem.h"
#include "tests/support/TempTree.h"

namespace {

using namespace devicescan::quarantine;
using devicescan::quarantine::tests::FaultyFileSystem;
using Call = FaultyFileSystem::Call;
using Outcome = Quarantine::Result::Outcome;

constexpr std::uint32_t kBlock = 4096;
constexpr int kBlocks = 6;  // the original: five whole blocks and a partial one

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(test_support::TempTree::Long(path)), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("<missing>");
}

class QuarantineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (std::size_t i = 0; i < content.size(); ++i) {
            content[i] = static_cast<char>(i * 131 % 251);
        }
        tree.Write(L"stick\\tools\\setup.exe", content);
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExW(original.c_str(), GetFileExInfoStandard, &data));
        request.path = original;
        request.size = content.size();
        request.lastWrite = std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                            data.ftLastWriteTime.dwLowDateTime;
        devicescan::scan::HashObject md5;
        md5.Begin(devicescan::scan::HashType::kMd5);
        md5.Add(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
        md5.Finish(request.digest.emplace());
        request.names = {"Test.Name", "Other.Name"};
    }

    Quarantine::Result Put(Quarantine::Mode mode = Quarantine::Mode::kMove) {
        Quarantine quarantine(files, folder, mode, kBlock);
        EXPECT_EQ(quarantine.Prepare(), 0u);
        return quarantine.Put(request);
    }

    std::vector<ManifestRecord> Records() {
        std::vector<ManifestRecord> records;
        std::size_t torn = 0;  // by a failed write, and then ended by the next record
        Manifest(files, folder).ReadAll(records, torn);
        return records;
    }

    // The files in the folder besides the manifest.
    std::set<std::wstring> Held() {
        std::set<std::wstring> names;
        std::error_code none;  // no folder yet
        for (const auto& entry : std::filesystem::directory_iterator(folder, none)) {
            if (entry.is_regular_file() && entry.path().filename() != Manifest::kFileName) {
                names.insert(entry.path().filename());
            }
        }
        return names;
    }

    // The files the manifest says the folder holds: quarantined, not restored or withdrawn.
    std::set<std::wstring> Listed() {
        std::set<std::wstring> listed;
        std::map<std::wstring, std::wstring> files;
        for (const ManifestRecord& record : Records()) {
            if (record.kind == ManifestRecord::Kind::kQuarantined) {
                listed.insert(record.file);
                files[record.id] = record.file;
            } else {
                listed.erase(files[record.id]);
            }
        }
        return listed;
    }

    // What every failure must leave: the original whole, no copy, a manifest that agrees.
    void ExpectNothingChanged(const char* reason) {
        const std::set<std::wstring> before = Held();
        const Quarantine::Result result = Put();
        EXPECT_EQ(result.outcome, Outcome::kFailed);
        EXPECT_STREQ(result.reason, reason);
        EXPECT_EQ(ReadAll(original), content) << "the original was touched";
        EXPECT_EQ(Held(), before) << "a partial copy was left";
        EXPECT_EQ(Listed(), before) << "the manifest does not list what the folder holds";
    }

  public:  // for the rows of a table
    test_support::TempTree tree;
    FaultyFileSystem files;
    const std::wstring folder = tree.Path(L"quarantine");
    const std::wstring original = tree.Path(L"stick\\tools\\setup.exe");
    std::string content = std::string((kBlocks - 1) * kBlock + 1000, '\0');
    Quarantine::Request request;
    std::ofstream writer;  // another program's, open on the original
};

// The restore checks the copy against the record's size and digest and never overwrites a file;
// one that fails leaves no partial file and no record, and a name in the manifest that leads out
// of the folder is refused.
TEST_F(QuarantineTest, MovesProvenCopyAndRestoresItOnceAndOnlyWhole) {
    const Quarantine::Result result = Put();
    ASSERT_EQ(result.outcome, Outcome::kMoved) << result.reason;
    EXPECT_EQ(ReadAll(original), "<missing>");
    const std::vector<ManifestRecord> records = Records();
    ASSERT_EQ(records.size(), 1u);
    const std::set<std::wstring> held{result.id + Quarantine::kExtension};
    EXPECT_EQ(Held(), held);
    EXPECT_EQ(records[0].names, request.names);

    QuarantineRestore restore(files, folder);
    tree.Write(L"stick\\tools\\setup.exe", "a new file here");
    EXPECT_STREQ(restore.Restore(result.id).reason, "target-exists");
    EXPECT_EQ(ReadAll(original), "a new file here") << "a restore overwrote a file";
    DeleteFileW(original.c_str());
    files.faults = {{Call::kWrite, L"setup.exe", 1, ERROR_DISK_FULL}};
    EXPECT_STREQ(restore.Restore(result.id).reason, "folder-full");
    files.faults.clear();
    files.corruptReadsOf = L".quarantined";
    EXPECT_STREQ(restore.Restore(result.id).reason, "changed");
    files.corruptReadsOf.clear();
    EXPECT_EQ(ReadAll(original), "<missing>") << "a failed restore left a partial file";
    EXPECT_EQ(Held(), held);
    EXPECT_EQ(Listed(), held) << "a failed restore was recorded";

    const QuarantineRestore::Result back = restore.Restore(result.id);
    ASSERT_TRUE(back.restored) << back.reason;
    EXPECT_EQ(ReadAll(original), content);
    EXPECT_EQ(Held(), std::set<std::wstring>{}) << "the quarantined copy stayed after a restore";
    EXPECT_EQ(Listed(), std::set<std::wstring>{});
    EXPECT_STREQ(restore.Restore(result.id).reason, "not-in-quarantine");
    EXPECT_STREQ(restore.Restore(L"20000101-000000-00000000").reason, "unknown-id");

    // The record of a file that is there, under a name that leads out of the folder.
    ManifestRecord outside = records[0];
    outside.id = L"x";
    outside.file = L"..\\stick\\tools\\setup.exe";
    ASSERT_EQ(Manifest(files, folder).Append(outside), 0u);
    EXPECT_STREQ(restore.Restore(L"x").reason, "unsafe-file-name");
}

TEST_F(QuarantineTest, CopiesAndKeepsTheOriginalWhenAskedOrOnAReadOnlyVolume) {
    EXPECT_EQ(Put(Quarantine::Mode::kCopy).outcome, Outcome::kCopied);
    files.readOnlyVolume = true;
    EXPECT_EQ(Put().outcome, Outcome::kCopiedReadOnly);
    EXPECT_EQ(ReadAll(original), content);
    EXPECT_EQ(Held().size(), 2u);
    EXPECT_EQ(Listed(), Held());
}

// Makes the first call of one kind on paths that hold a text fail with error.
std::function<void(QuarantineTest&)> Fail(Call call, const wchar_t* path, DWORD error) {
    return [=](QuarantineTest& t) { t.files.faults = {{call, path, 1, error}}; };
}

// One row per failure, the real file system's where Wine makes it, the faulty one's elsewhere. (A
// read or a write failing mid-copy is the next test's, at every block.)
TEST_F(QuarantineTest, EveryFailureLeavesTheOriginalAndNoCopy) {
    const struct {
        const char* reason;
        std::function<void(QuarantineTest&)> arrange;
    } rows[] = {
        {"changed", [](auto& t) { ++t.request.size; }},
        {"changed", [](auto& t) { ++t.request.lastWrite; }},
        {"changed", [](auto& t) { t.request.digest->bytes[0] ^= 1; }},
        {"folder-unwritable", Fail(Call::kOpen, L".quarantined", ERROR_WRITE_PROTECT)},
        {"flush-failed", Fail(Call::kFlush, L".quarantined", ERROR_IO_DEVICE)},
        {"manifest-failed", Fail(Call::kWrite, Manifest::kFileName, ERROR_DISK_FULL)},
        {"delete-failed", Fail(Call::kDeleteOpen, L"setup.exe", ERROR_ACCESS_DENIED)},
        {"verify-failed", [](auto& t) { t.files.corruptReadsOf = L".quarantined"; }},
        {"original-read-only",
         [](auto& t) { SetFileAttributesW(t.original.c_str(), FILE_ATTRIBUTE_READONLY); }},
        {"sharing-violation",
         [](auto& t) { t.writer.open(std::filesystem::path(t.original), std::ios::app); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows << ": " << row.reason);
        QuarantineTest::SetUp();
        row.arrange(*this);
        ExpectNothingChanged(row.reason);
        writer.close();
        files = FaultyFileSystem();
        SetFileAttributesW(original.c_str(), FILE_ATTRIBUTE_NORMAL);
        QuarantineTest::SetUp();
        EXPECT_EQ(Put().outcome, Outcome::kMoved) << "the same file, once nothing fails";
        EXPECT_EQ(Listed(), Held()) << "a record after the failure was lost";
    }
}

// A copy cut at each block boundary, by the reader or by the writer, changes nothing.
TEST_F(QuarantineTest, ACopyFailingAtEveryBlockBoundaryChangesNothing) {
    for (int block = 1; block <= kBlocks; ++block) {
        for (const auto& fault :
             {FaultyFileSystem::Fault{Call::kRead, L"setup.exe", block, ERROR_DEVICE_NOT_CONNECTED},
              FaultyFileSystem::Fault{Call::kWrite, L".quarantined", block,
                                      ERROR_HANDLE_DISK_FULL}}) {
            SCOPED_TRACE(testing::Message() << "block " << block << ", call " << int(fault.call));
            files.faults = {fault};
            ExpectNothingChanged(fault.call == Call::kRead ? "read-failed" : "folder-full");
        }
    }
    files.faults.clear();
    EXPECT_EQ(Put().outcome, Outcome::kMoved) << "the same file, without a fault";
}

// The manifest is read from a folder anyone may write to: only its own records are taken.
TEST(ManifestRecordTest, ReadsItsOwnLinesBackAndNothingElse) {
    ManifestRecord record;
    record.id = L"20261207-001500-3f9c2a71";
    record.original = L"E:\\\x00e9t\x00e9 \"q\"\\\xd83d\xde00.exe";
    record.file = record.id + L".quarantined";
    record.size = 18446744073709551615ull;
    record.sha256 = std::wstring(64, L'a');
    record.time = L"2026-12-07T00:15:00Z";
    record.names = {"Name.One", "N\xc3\xa4me"};
    const std::optional<ManifestRecord> back = ManifestRecord::Parse(record.Line());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->original, record.original);
    EXPECT_EQ(back->Line(), record.Line());

    const std::string line = record.Line();
    for (const std::string& bad :
         {line.substr(0, line.size() / 2), line + "x", std::string("{\"record\":\"restored\"}"),
          std::string("{\"record\":\"moved\",\"id\":\"a\"}"), std::string("[]"),
          std::string("{\"record\":\"restored\",\"id\":\"a\",\"size\":99999999999999999999}"),
          std::string("{\"record\":\"restored\",\"id\":\"a\\u12\"}")}) {
        EXPECT_FALSE(ManifestRecord::Parse(bad)) << bad;
    }
}

}  // namespace
