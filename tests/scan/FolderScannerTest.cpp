// Scans of real folder trees: which files are read, what is reported for them, and how a scan
// survives files it cannot read and stops when cancelled.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/EicarCheck.h"
#include "scan/FileHasher.h"
#include "scan/FolderScanner.h"
#include "sdk/UniqueHandle.h"
#include "sdk/Utf8.h"
#include "tests/host/TempTree.h"

namespace {

using namespace devicescan::scan;

constexpr const char* kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";
constexpr const char* kAbcSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr const char* kAbcSha256 =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kEmptySha256 =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// "path name hashType hash size", one a detection.
class RecordingObserver final : public ScanObserver {
  public:
    void OnDetection(const Detection& detection) override {
        lines.push_back(qv::ToUtf8(detection.path) + " " + detection.name + " " +
                        detection.HashTypeName() + " " + detection.digest.Hex() + " " +
                        std::to_string(detection.size));
    }
    void OnProgress(const ScanCounts&) override {}

    std::vector<std::string> lines;
};

class FolderScanning : public ::testing::Test {
  protected:
    void AddSignature(HashType type, const char* hex, std::uint64_t size, const char* name) {
        SignatureLine line;
        ASSERT_TRUE(Digest::FromHex(hex, type, line.digest));
        line.size = size;
        line.name = name;
        database.Add(line);
    }

    FolderScanner::Result Scan(const std::wstring& root) {
        database.Seal();
        FolderScanner scanner(database, {});
        return scanner.Scan(root, cancel, observer);
    }

    std::string Shown(const std::wstring& relative) const {
        return qv::ToUtf8(tree.Path(relative));
    }

    TempTree tree;
    SignatureDatabase database;
    CancelFlag cancel;
    RecordingObserver observer;
};

TEST_F(FolderScanning, ReportsEachSignatureNameOnceWithTheHashThatMatched) {
    tree.Write(L"a\\abc.bin", "abc");
    tree.Write(L"a\\other.bin", "abd");
    tree.Add(L"a\\unread.bin", 10);
    AddSignature(HashType::kMd5, kAbcMd5, 3, "Test.Md5");
    AddSignature(HashType::kSha1, kAbcSha1, SignatureLine::kAnySize, "Test.Sha1");
    AddSignature(HashType::kSha256, kAbcSha256, 3, "Test.Sha256");
    AddSignature(HashType::kSha256, kAbcSha256, 3, "Test.Md5");
    AddSignature(HashType::kSha256, kAbcSha256, 4, "Test.OtherSize");

    const FolderScanner::Result result = Scan(tree.Root());
    EXPECT_EQ(result.outcome, FolderScanner::Outcome::kFinished);
    const std::string path = Shown(L"a\\abc.bin");
    EXPECT_EQ(observer.lines, (std::vector<std::string>{
                                  path + " Test.Md5 md5 " + kAbcMd5 + " 3",
                                  path + " Test.Sha1 sha1 " + kAbcSha1 + " 3",
                                  path + " Test.Sha256 sha256 " + kAbcSha256 + " 3",
                              }));
    EXPECT_EQ(result.counts.threats, 3u);
    EXPECT_EQ(result.counts.files, 3u);
    EXPECT_EQ(result.counts.bytes, 16u);
    EXPECT_EQ(result.counts.hashedBytes, 16u) << "a wildcard-size signature makes every file count";
    EXPECT_EQ(result.counts.errors, 0u);
}

TEST_F(FolderScanning, NeverReportsAnEmptyFile) {
    tree.Write(L"empty", "");
    AddSignature(HashType::kSha256, kEmptySha256, SignatureLine::kAnySize, "Empty.Content");
    const FolderScanner::Result result = Scan(tree.Root());
    EXPECT_EQ(observer.lines, std::vector<std::string>{});
    EXPECT_EQ(result.counts.files, 1u);
}

struct TestFileCase {
    const char* name;
    std::string content;
    bool detected;
};

void PrintTo(const TestFileCase& test, std::ostream* out) {
    *out << test.name;
}

const std::string kText = EicarCheck::Text();

const TestFileCase kTestFiles[] = {
    {"Exact", kText, true},
    {"TrailingWhiteSpace", kText + "\r\n \t\n", true},
    {"PaddedTo128", kText + std::string(128 - kText.size(), ' '), true},
    {"PaddedTo129", kText + std::string(129 - kText.size(), ' '), false},
    {"MissingCharacter", kText.substr(0, kText.size() - 1), false},
    {"TextBefore", "x" + kText, false},
    {"TextAfter", kText + " x", false},
};

class BuiltinTestFile : public FolderScanning,
                        public ::testing::WithParamInterface<TestFileCase> {};

TEST_P(BuiltinTestFile, IsFoundOnlyAsDefined) {
    const TestFileCase& test = GetParam();
    ASSERT_EQ(kText.size(), EicarCheck::kTextSize);
    tree.Write(L"test-file.com", test.content);
    Scan(tree.Root());
    if (!test.detected) {
        EXPECT_EQ(observer.lines, std::vector<std::string>{});
        return;
    }
    Digest sha256;
    ASSERT_TRUE(
        FileHasher::HashBytes(HashType::kSha256, test.content.data(), test.content.size(), sha256));
    EXPECT_EQ(observer.lines,
              std::vector<std::string>{Shown(L"test-file.com") + " EICAR-Test-File builtin " +
                                       sha256.Hex() + " " + std::to_string(test.content.size())});
}

INSTANTIATE_TEST_SUITE_P(, BuiltinTestFile, ::testing::ValuesIn(kTestFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FolderScanning, CountsALockedFileAsAnErrorAndGoesOn) {
    tree.Write(L"locked.bin", "abc");
    tree.Write(L"open.bin", "abc");
    AddSignature(HashType::kMd5, kAbcMd5, 3, "Test.Md5");
    const qv::UniqueHandle lock(CreateFileW(tree.Path(L"locked.bin").c_str(), GENERIC_READ, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.IsValid());

    const FolderScanner::Result result = Scan(tree.Root());
    EXPECT_EQ(result.outcome, FolderScanner::Outcome::kFinished);
    EXPECT_EQ(result.counts.errors, 1u);
    EXPECT_EQ(observer.lines,
              std::vector<std::string>{Shown(L"open.bin") + " Test.Md5 md5 " + kAbcMd5 + " 3"});
}

TEST_F(FolderScanning, FindsFilesPastTheShortPathLimitAndWithNonAsciiNames) {
    std::wstring deep = L"\u00e9t\u00e9";
    for (int level = 0; level < 5; ++level) {
        deep += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + level));
    }
    const std::wstring file = deep + L"\\\u0444\u0430\u0439\u043b-\u6587\u4ef6.bin";
    ASSERT_GT(tree.Path(file).size(), static_cast<std::size_t>(MAX_PATH));
    tree.Write(file, "abc");
    AddSignature(HashType::kSha256, kAbcSha256, 3, "Test.Deep");

    const FolderScanner::Result result = Scan(tree.Root());
    EXPECT_EQ(result.counts.errors, 0u);
    EXPECT_EQ(observer.lines,
              std::vector<std::string>{Shown(file) + " Test.Deep sha256 " + kAbcSha256 + " 3"});
}

// A worker thread that hashes one open file, as a scan does.
struct HashJob {
    FileHasher hasher;
    HANDLE file;
    CancelFlag cancel;
    FileHasher::Result result;

    static DWORD WINAPI Run(void* parameter) {
        auto* job = static_cast<HashJob*>(parameter);
        job->result = job->hasher.Hash(job->file, MaskOf(HashType::kSha256), job->cancel);
        return 0;
    }
};

TEST(FileHashing, StopsWithinOneBlockOfACancelInTheMiddleOfALargeFile) {
    TempTree tree;
    const qv::UniqueHandle file(CreateFileW(tree.Path(L"large.bin").c_str(),
                                            GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.IsValid());
    constexpr LONGLONG kSize = 1LL << 30;  // a few seconds of hashing
    ASSERT_TRUE(
        SetFilePointerEx(file.Get(), LARGE_INTEGER{.QuadPart = kSize}, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.Get()));
    ASSERT_TRUE(SetFilePointerEx(file.Get(), LARGE_INTEGER{.QuadPart = 0}, nullptr, FILE_BEGIN));

    HashJob job{FileHasher(), file.Get(), {}, {}};
    const qv::UniqueHandle worker(CreateThread(nullptr, 0, &HashJob::Run, &job, 0, nullptr));
    ASSERT_TRUE(worker.IsValid());
    // The file position is the hasher's: once it has read a few blocks, cancel.
    LARGE_INTEGER position{};
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (position.QuadPart < 4 * LONGLONG{FileHasher::kBlockSize} &&
           GetTickCount64() < deadline) {
        SetFilePointerEx(file.Get(), LARGE_INTEGER{}, &position, FILE_CURRENT);
        Sleep(1);
    }
    job.cancel.Set();
    SetFilePointerEx(file.Get(), LARGE_INTEGER{}, &position, FILE_CURRENT);
    ASSERT_EQ(WaitForSingleObject(worker.Get(), 30000), WAIT_OBJECT_0);

    ASSERT_EQ(job.result.outcome, FileHasher::Outcome::kCancelled);
    EXPECT_LE(job.result.bytesRead,
              static_cast<std::uint64_t>(position.QuadPart) + FileHasher::kBlockSize);
    EXPECT_LT(job.result.bytesRead, static_cast<std::uint64_t>(kSize));
}

}  // namespace
