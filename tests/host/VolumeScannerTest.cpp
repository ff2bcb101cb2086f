#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "TempTree.h"
#include "Utf8.h"
#include "VolumeScanner.h"

namespace {

using host::EventPrinter;
using host::OutputQueue;
using host::VolumeScanner;
using host::VolumeWalker;

constexpr DWORD kBoundMs = 20000;

class VolumeScannerTest : public ::testing::Test {
  protected:
    VolumeScannerTest() {
        for (int i = 0; i < 3; ++i) {
            slow.AddFile(L"s" + std::to_wstring(i), 1);
        }
        quick.AddFile(L"q", 5);
    }

    // A scanner whose walks pause a minute after each file: a scan stays running until cancelled.
    std::unique_ptr<VolumeScanner> SlowScanner() {
        return std::make_unique<VolumeScanner>(printer, VolumeWalker(1, 60000));
    }

    // Collects output until a line starts with prefix; false when none comes within the bound.
    bool WaitFor(const std::wstring& prefix) {
        const std::string wanted = host::ToUtf8(prefix);
        const ULONGLONG deadline = GetTickCount64() + kBoundMs;
        for (;;) {
            for (auto& entry : queue->Take()) {
                lines.push_back(entry.line);
            }
            if (std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind(wanted, 0) == 0; })) {
                return true;
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                return false;
            }
            WaitForSingleObject(queue->ReadyEvent(), static_cast<DWORD>(deadline - now));
        }
    }

    bool Saw(const std::wstring& prefix) const {
        const std::string wanted = host::ToUtf8(prefix);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.rfind(wanted, 0) == 0; });
    }

    TempTree slow{L"slow"};
    TempTree quick{L"quick"};
    std::shared_ptr<OutputQueue> queue = std::make_shared<OutputQueue>();
    EventPrinter printer{queue, EventPrinter::Format::kText, false};
    std::vector<std::string> lines;
};

TEST_F(VolumeScannerTest, ScansQueuedVolumesOneAfterAnother) {
    VolumeScanner scanner(printer, VolumeWalker(0, 0));
    ASSERT_TRUE(scanner.Start());
    scanner.Enqueue(slow.Root());
    scanner.Enqueue(quick.Root());
    ASSERT_TRUE(WaitFor(L"scan finished " + quick.Root()));
    const std::vector<std::string> expected = {
        host::ToUtf8(L"scan started " + slow.Root()),
        host::ToUtf8(L"scan finished " + slow.Root() + L" files=3 directories=0 bytes=3 errors=0"),
        host::ToUtf8(L"scan started " + quick.Root()),
        host::ToUtf8(L"scan finished " + quick.Root() + L" files=1 directories=0 bytes=5 errors=0"),
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(VolumeScannerTest, RemovalCancelsTheRunningScanAndDropsWaitingOnes) {
    const auto scanner = SlowScanner();
    ASSERT_TRUE(scanner->Start());
    scanner->Enqueue(slow.Root());
    scanner->Enqueue(quick.Root());
    ASSERT_TRUE(WaitFor(L"scan progress " + slow.Root() + L" files=1 "));

    scanner->Cancel(quick.Root());
    ASSERT_TRUE(WaitFor(L"scan cancelled " + quick.Root() + L" files=0 "));
    EXPECT_FALSE(Saw(L"scan started " + quick.Root())) << "a waiting scan never starts";

    // Volume paths compare without regard to case, as the file system does.
    std::wstring upper = slow.Root();
    std::transform(upper.begin(), upper.end(), upper.begin(), std::towupper);
    scanner->Cancel(upper);
    ASSERT_TRUE(WaitFor(L"scan cancelled " + slow.Root() + L" files=1 "));
    EXPECT_TRUE(Saw(L"scan cancelled " + slow.Root() +
                    L" files=1 directories=0 bytes=1 errors=0 "
                    L"(volume removed)"));
    EXPECT_FALSE(Saw(L"scan finished"));
}

TEST_F(VolumeScannerTest, ShutdownCancelsEveryScanAndEndsTheWorker) {
    const auto scanner = SlowScanner();
    ASSERT_TRUE(scanner->Start());
    scanner->Enqueue(slow.Root());
    scanner->Enqueue(quick.Root());
    ASSERT_TRUE(WaitFor(L"scan progress " + slow.Root()));

    scanner->Shutdown();
    EXPECT_TRUE(WaitFor(L"scan cancelled " + quick.Root() +
                        L" files=0 directories=0 bytes=0 "
                        L"errors=0 (host stopping)"));
    EXPECT_TRUE(WaitFor(L"scan cancelled " + slow.Root() +
                        L" files=1 directories=0 bytes=1 "
                        L"errors=0 (host stopping)"));

    EXPECT_FALSE(Saw(L"devicescan-host: warning")) << "the paused walk was not interrupted";

    // After shutdown nothing is scanned any more.
    const std::size_t seen = lines.size();
    scanner->Enqueue(quick.Root());
    scanner->Shutdown();
    EXPECT_TRUE(queue->Take().empty());
    EXPECT_EQ(lines.size(), seen);
}

}  // namespace
