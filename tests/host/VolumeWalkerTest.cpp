#include <gtest/gtest.h>

#include <vector>

#include "CancelFlag.h"
#include "TempTree.h"
#include "VolumeWalker.h"

namespace {

using host::CancelFlag;
using host::VolumeWalker;

class VolumeWalkerTest : public ::testing::Test {
  protected:
    TempTree tree{L"walk"};
    CancelFlag cancel;
};

TEST_F(VolumeWalkerTest, CountsFilesBytesAndDirectoriesBelowTheRoot) {
    tree.AddFile(L"a.txt", 10);
    tree.AddDirectory(L"sub");
    tree.AddFile(L"sub\\b.bin", 1000);
    tree.AddDirectory(L"sub\\deeper");
    tree.AddFile(L"sub\\deeper\\c", 0);
    tree.AddDirectory(L"empty");

    for (const std::wstring& root : {tree.Root(), tree.Root() + L"\\"}) {
        const auto result = VolumeWalker(0, 0).Walk(root, cancel, nullptr);
        EXPECT_EQ(result.outcome, VolumeWalker::Outcome::kFinished);
        EXPECT_EQ(result.counts.files, 3u);
        EXPECT_EQ(result.counts.directories, 3u);
        EXPECT_EQ(result.counts.bytes, 1010u);
        EXPECT_EQ(result.counts.errors, 0u);
    }
}

TEST_F(VolumeWalkerTest, ReachesFilesDeeperThanMaxPath) {
    std::wstring relative;
    for (int level = 0; level < 6; ++level) {
        relative += (level ? L"\\" : L"") + std::wstring(60, static_cast<wchar_t>(L'a' + level));
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + tree.Path(relative)).c_str(), nullptr));
    }
    ASSERT_GT(tree.Path(relative).size(), static_cast<std::size_t>(MAX_PATH));
    const HANDLE file = CreateFileW((L"\\\\?\\" + tree.Path(relative + L"\\deep.txt")).c_str(),
                                    GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "1234567", 7, &written, nullptr);
    CloseHandle(file);

    const auto result = VolumeWalker(0, 0).Walk(tree.Root(), cancel, nullptr);
    EXPECT_EQ(result.outcome, VolumeWalker::Outcome::kFinished);
    EXPECT_EQ(result.counts.files, 1u);
    EXPECT_EQ(result.counts.directories, 6u);
    EXPECT_EQ(result.counts.bytes, 7u);
}

TEST_F(VolumeWalkerTest, ReportsProgressEveryNFilesAndStopsWhenCancelled) {
    for (int i = 0; i < 7; ++i) {
        tree.AddFile(L"f" + std::to_wstring(i), 1);
    }
    std::vector<std::uint64_t> seen;
    auto result = VolumeWalker(3, 0).Walk(
        tree.Root(), cancel, [&](const auto& counts) { seen.push_back(counts.files); });
    EXPECT_EQ(result.outcome, VolumeWalker::Outcome::kFinished);
    EXPECT_EQ(seen, (std::vector<std::uint64_t>{3, 6}));

    result = VolumeWalker(2, 0).Walk(tree.Root(), cancel, [&](const auto&) { cancel.Set(); });
    EXPECT_EQ(result.outcome, VolumeWalker::Outcome::kCancelled);
    EXPECT_EQ(result.counts.files, 2u) << "the walk stops at the first entry after the cancel";

    // A cancel during a pause ends it at once (the pause here would last a minute).
    cancel.Reset();
    result = VolumeWalker(1, 60000).Walk(tree.Root(), cancel, [&](const auto&) { cancel.Set(); });
    EXPECT_EQ(result.outcome, VolumeWalker::Outcome::kCancelled);
    EXPECT_EQ(result.counts.files, 1u);
}

TEST_F(VolumeWalkerTest, EmptyRootFinishesAndMissingRootFails) {
    const auto empty = VolumeWalker(1, 0).Walk(tree.Root(), cancel, nullptr);
    EXPECT_EQ(empty.outcome, VolumeWalker::Outcome::kFinished);
    EXPECT_EQ(empty.counts.files + empty.counts.directories + empty.counts.errors, 0u);

    const auto missing = VolumeWalker(1, 0).Walk(tree.Path(L"absent"), cancel, nullptr);
    EXPECT_EQ(missing.outcome, VolumeWalker::Outcome::kFailed);
    EXPECT_TRUE(missing.error == ERROR_PATH_NOT_FOUND || missing.error == ERROR_FILE_NOT_FOUND)
        << missing.error;
}

TEST(VolumeWalkerLongPath, PrefixesDrivePathsAndUncPathsOnce) {
    EXPECT_EQ(VolumeWalker::LongPathOf(L"C:\\data\\x"), L"\\\\?\\C:\\data\\x");
    EXPECT_EQ(VolumeWalker::LongPathOf(L"E:\\"), L"\\\\?\\E:\\");
    EXPECT_EQ(VolumeWalker::LongPathOf(L"C:\\data\\..\\other\\.\\y"), L"\\\\?\\C:\\other\\y");
    EXPECT_EQ(VolumeWalker::LongPathOf(L"\\\\server\\share\\dir"),
              L"\\\\?\\UNC\\server\\share\\dir");
    EXPECT_EQ(VolumeWalker::LongPathOf(L"\\\\?\\C:\\data"), L"\\\\?\\C:\\data");
}

}  // namespace
