// Long runs of the service on a scripted machine: listeners coming and going while the window
// thread announces, and the window procedure fed random messages. (A thousand life cycles, with
// their handles and heap bytes counted, run in the plain-C host's test of the shipped module.)
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <random>

#include "tests/support/ServiceFixture.h"
#include "tests/support/TestThreads.h"

namespace {

using SoakTest = test_support::RunningServiceFixture;

// The repeats of a long run, divided by DEVICESCAN_REPEAT_DIVISOR when it is set: heap-check.sh
// sets it, since under heap validation every heap call walks the whole heap and the full counts
// would outlast the runs' time bounds many times over.
int Repeats(int count) {
    wchar_t divisor[16] = L"";
    const bool set = GetEnvironmentVariableW(L"DEVICESCAN_REPEAT_DIVISOR", divisor, 16) != 0;
    return std::max(1, count / std::max(1, set ? _wtoi(divisor) : 1));
}

// Each arrival carries its number in fullSize (the drive's size is scripted before it): a
// listener heard its events in order when the numbers, removals after arrivals, only grow.
bool HeardInOrder(const test_support::Recorder& recorder) {
    const auto number = [](const test_support::Heard& heard) {
        return heard.device.fullSize * 2 + (heard.event[0] == L'u' ? 1 : 0);
    };
    return std::ranges::adjacent_find(recorder.heard, std::ranges::greater_equal{}, number) ==
           recorder.heard.end();
}

TEST_F(SoakTest, ListenersComeAndGoFromFourThreadsWhileTenThousandEventsAreAnnounced) {
    test_support::FakeDrive& stick = Machine().Drive(L'E');
    stick.totalFreeBytes = stick.freeBytesToCaller = 1;
    test_support::Recorder visitors[4];
    std::atomic<bool> announcing{true};
    // Thread 0 announces; the other four are hosts that register and unregister meanwhile.
    test_support::RunThreadsTogether(5, [&](int index) {
        if (index == 0) {
            for (ULONGLONG k = 1; k <= static_cast<ULONGLONG>(Repeats(5000)); ++k) {
                stick.totalBytes = 1000 + k;
                QvSendVolumeChange(window, DBT_DEVICEARRIVAL, 0x10);
                QvSendVolumeChange(window, DBT_DEVICEREMOVECOMPLETE, 0x10);
            }
            announcing = false;
            return;
        }
        std::mt19937 random(static_cast<unsigned>(index));
        while (announcing) {
            EXPECT_EQ(service->Register(&visitors[index - 1]), 0u);
            Sleep(random() % 3);
            EXPECT_EQ(service->Unregister(&visitors[index - 1]), 0u);
        }
    });

    EXPECT_EQ(listener.heard.size(), 2u * Repeats(5000));
    EXPECT_EQ(host.producer.heard.size(), 2u * Repeats(5000));
    EXPECT_TRUE(HeardInOrder(listener));
    EXPECT_TRUE(std::ranges::all_of(visitors, HeardInOrder));
}

TEST_F(SoakTest, RandomMessagesNeverUpsetTheWindow) {
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        Machine().Drive(letter).driveType = DRIVE_UNKNOWN + letter % 8;
    }
    std::mt19937 random(20261205);
    ASSERT_TRUE(test_support::FinishesWithin(2 * 60 * 1000, [&] {
        for (int i = 0; i < Repeats(20000); ++i) {
            // Any notification, and a header of random shape: often a volume, often one drive.
            alignas(8) BYTE header[64];
            std::ranges::generate(header, [&] { return static_cast<BYTE>(random()); });
            auto* volume = reinterpret_cast<DEV_BROADCAST_VOLUME*>(header);
            volume->dbcv_devicetype = random() % 2 ? DBT_DEVTYP_VOLUME : volume->dbcv_devicetype;
            volume->dbcv_unitmask = random() % 2 ? 1u << random() % 32 : volume->dbcv_unitmask;
            const WPARAM change = random() % 4 ? DBT_DEVICEARRIVAL + random() % 8 : random() % 32;
            const LPARAM lParam = random() % 8 ? reinterpret_cast<LPARAM>(header) : 0;
            EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, change, lParam), 1) << "message " << i;
            if (i % 2000 == 0) {
                ClearLog();
            }
        }
    }));
    EXPECT_NE(QvFindOwnServiceWindow(), nullptr);
}

}  // namespace
