// Scans of real folder trees: which files are read, what is reported for them, and how a scan
// survives files it cannot read and stops when cancelled.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/scan/EicarCheck.h"
#include "host/scan/FileHasher.h"
#include "host/scan/FolderScanner.h"
#include "sdk/UniqueHandle.h"
#include "sdk/Utf8.h"
#include "tests/host/TempTree.h"
#include "tests/unit/TestThreads.h"

namespace {

using namespace devicescan::scan;

constexpr const char* kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";
constexpr const char* kAbcSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr const char* kAbcSha256 =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kEmptySha256 =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr std::uint64_t kAny = SignatureLine::kAnySize;

struct Signature {
    HashType type;
    const char* hex;
    std::uint64_t size;
    const char* name;
};

struct Scanned {
    FolderScanner::Result result;
    std::vector<std::string> detections;  // "path name hashType hash size"
};

Scanned Scan(const std::wstring& root, std::initializer_list<Signature> signatures) {
    struct Recorder final : ScanObserver {
        void OnDetection(const Detection& found) override {
            lines.push_back(qv::ToUtf8(found.path) + " " + found.name + " " + found.HashTypeName() +
                            " " + found.digest.Hex() + " " + std::to_string(found.size));
        }
        void OnProgress(const ScanCounts&) override {}
        std::vector<std::string> lines;
    } recorder;
    SignatureDatabase database;
    for (const Signature& signature : signatures) {
        SignatureLine line;
        line.size = signature.size;
        line.name = signature.name;
        EXPECT_TRUE(Digest::FromHex(signature.hex, signature.type, line.digest));
        database.Add(line);
    }
    database.Seal();
    // A braced list is evaluated in order: the lines are copied once the scan has ended.
    return {FolderScanner(database, {}).Scan(root, {}, recorder), recorder.lines};
}

// One tree for the reporting rules and for what a scan must get past: a locked file, and "abc"
// again in a non-ASCII name at a path beyond MAX_PATH.
TEST(FolderScanning, ReportsEachNameOnceWithTheHashThatMatchedPastLockedFilesAndLongPaths) {
    const TempTree tree;
    tree.Write(L"a\\abc.bin", "abc");
    tree.Write(L"a\\other.bin", "abd");
    tree.Write(L"a\\unread.bin", std::string(10, 'x'));
    tree.Write(L"a\\empty", "");
    std::wstring deep = L"\u00e9t\u00e9";
    for (wchar_t level = L'a'; level < L'f'; ++level) {
        deep += L"\\" + std::wstring(60, level);
    }
    const std::wstring longName = deep + L"\\\u0444\u0430\u0439\u043b-\u6587\u4ef6.bin";
    ASSERT_GT(tree.Path(longName).size(), static_cast<std::size_t>(MAX_PATH));
    tree.Write(longName, "abc");
    tree.Write(L"locked.bin", "abc");
    const qv::UniqueHandle lock(CreateFileW(tree.Path(L"locked.bin").c_str(), GENERIC_READ, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.IsValid());

    auto [result, detections] =
        Scan(tree.Root(), {
                              {HashType::kMd5, kAbcMd5, 3, "Test.Md5"},
                              {HashType::kSha1, kAbcSha1, kAny, "Test.Sha1"},
                              {HashType::kSha256, kAbcSha256, 3, "Test.Sha256"},
                              {HashType::kSha256, kAbcSha256, 3, "Test.Md5"},
                              {HashType::kSha256, kAbcSha256, 4, "Test.OtherSize"},
                              {HashType::kSha256, kEmptySha256, kAny, "Empty.Content"},
                          });
    EXPECT_EQ(result.outcome, FolderScanner::Outcome::kFinished);
    std::vector<std::string> expected;
    for (const std::wstring& file : {tree.Path(L"a\\abc.bin"), tree.Path(longName)}) {
        const std::string path = qv::ToUtf8(file);
        expected.insert(expected.end(), {path + " Test.Md5 md5 " + kAbcMd5 + " 3",
                                         path + " Test.Sha1 sha1 " + kAbcSha1 + " 3",
                                         path + " Test.Sha256 sha256 " + kAbcSha256 + " 3"});
    }
    // The walk's order of the two files is the file system's; within a file it is the scanner's.
    std::stable_sort(detections.begin(), detections.end(), [](const auto& a, const auto& b) {
        return a.substr(0, a.find(" Test.")) < b.substr(0, b.find(" Test."));
    });
    EXPECT_EQ(detections, expected);
    EXPECT_EQ(result.counts.threats, 6u);
    EXPECT_EQ(result.counts.files, 6u);
    EXPECT_EQ(result.counts.bytes, 22u);
    EXPECT_EQ(result.counts.hashedBytes, 19u)
        << "a wildcard-size signature makes every file that can be opened count";
    EXPECT_EQ(result.counts.errors, 1u) << "the locked file";
}

TEST(FolderScanning, FindsTheBuiltinTestFileOnlyAsDefined) {
    const std::string text = EicarCheck::Text();
    ASSERT_EQ(text.size(), EicarCheck::kTextSize);
    const struct {
        const char* name;
        std::string content;
        bool detected;
    } cases[] = {
        {"exact", text, true},
        {"trailing white space", text + "\r\n \t\n", true},
        {"padded to 128", text + std::string(128 - text.size(), ' '), true},
        {"padded to 129", text + std::string(129 - text.size(), ' '), false},
        {"a character missing", text.substr(0, text.size() - 1), false},
        {"text before", "x" + text, false},
        {"text after", text + " x", false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const TempTree tree;
        tree.Write(L"test-file.com", test.content);
        Digest sha256;
        ASSERT_TRUE(FileHasher::HashBytes(HashType::kSha256, test.content.data(),
                                          test.content.size(), sha256));
        const std::string found = qv::ToUtf8(tree.Path(L"test-file.com")) +
                                  " EICAR-Test-File builtin " + sha256.Hex() + " " +
                                  std::to_string(test.content.size());
        EXPECT_EQ(Scan(tree.Root(), {}).detections,
                  test.detected ? std::vector{found} : std::vector<std::string>{});
    }
}

TEST(FileHashing, StopsWithinOneBlockOfACancelInTheMiddleOfALargeFile) {
    const TempTree tree;
    const qv::UniqueHandle file(CreateFileW(tree.Path(L"large.bin").c_str(),
                                            GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, 0, nullptr));
    constexpr LONGLONG kSize = 1LL << 30;  // a few seconds of hashing
    ASSERT_TRUE(SetFilePointerEx(file.Get(), {.QuadPart = kSize}, nullptr, FILE_BEGIN) &&
                SetEndOfFile(file.Get()) &&
                SetFilePointerEx(file.Get(), {.QuadPart = 0}, nullptr, FILE_BEGIN));

    CancelFlag cancel;
    FileHasher::Result result;
    testing_support::Actor hasher;
    hasher.Start(
        [&] { result = FileHasher().Hash(file.Get(), MaskOf(HashType::kSha256), cancel); });
    // The file position is the hasher's: once it has read a few blocks, cancel.
    LARGE_INTEGER position{};
    const auto read = [&] {
        SetFilePointerEx(file.Get(), {}, &position, FILE_CURRENT);
        return static_cast<std::uint64_t>(position.QuadPart);
    };
    testing_support::WaitUntil([&] { return read() >= 4 * FileHasher::kBlockSize; }, 30000);
    cancel.Set();
    const std::uint64_t readWhenCancelled = read();
    ASSERT_TRUE(hasher.Finished(30000));

    ASSERT_EQ(result.outcome, FileHasher::Outcome::kCancelled);
    EXPECT_LE(result.bytesRead, readWhenCancelled + FileHasher::kBlockSize);
    EXPECT_LT(result.bytesRead, static_cast<std::uint64_t>(kSize));
}

}  // namespace
