// Long runs of the service on a scripted machine: many life cycles, listeners coming and going
// while the window thread announces, and the window procedure fed random messages.
#include <windows.h>
#include <dbt.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "support/Bounded.h"
#include "support/HandleCount.h"
#include "support/ServiceFixture.h"

namespace {

using support::FinishesWithin;

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters.PrivateUsage;
}

class SoakTest : public support::ServiceFixture {
  protected:
    HWND StartService() {
        EXPECT_EQ(service->Init(&host), 0u);
        EXPECT_EQ(service->Start(), 0u);
        return support::FindOwnServiceWindow();
    }

    static LRESULT SendVolume(HWND window, WPARAM change, DWORD unitMask) {
        DEV_BROADCAST_VOLUME volume{sizeof(volume), DBT_DEVTYP_VOLUME, 0, unitMask, 0};
        return SendMessageW(window, WM_DEVICECHANGE, change, reinterpret_cast<LPARAM>(&volume));
    }
};

TEST_F(SoakTest, ThousandLifeCyclesKeepHandlesAndMemoryFlat) {
    const auto cycle = [&] {
        ASSERT_EQ(service->Init(&host), 0u);
        ASSERT_EQ(service->Start(), 0u);
        service->Stop();
        service->UnInit();
    };
    for (int i = 0; i < 20; ++i) {
        cycle();
    }
    recorder.Clear();
    const long handles = support::ProcessHandleCount();
    const SIZE_T memory = PrivateBytes();
    ASSERT_TRUE(FinishesWithin(std::chrono::minutes(5), [&] {
        for (int i = 0; i < 1000; ++i) {
            cycle();
            if (i % 100 == 0) {
                recorder.Clear();  // the recording log's own memory is not the service's
            }
        }
    }));
    recorder.Clear();
    EXPECT_LE(support::ProcessHandleCount(), handles + support::kHandleNoise);
    EXPECT_LT(PrivateBytes(), memory + 1024 * 1024) << "grew from " << memory;
}

// Each announcement carries its number in fullSize (the scripted drive's size is set before each
// arrival), so a listener can tell whether it heard events out of order.
class OrderCheckingListener : public fakes::RecordingListener {
  public:
    int OnDeviceMounted(const fakes::Device& device) override { return Hear(device, 0); }
    int OnDeviceUnmounted(const fakes::Device& device) override { return Hear(device, 1); }

    std::atomic<long> heard{0};
    std::atomic<bool> outOfOrder{false};

  private:
    int Hear(const fakes::Device& device, std::uint64_t kind) {
        const std::uint64_t position = device.fullSize * 2 + kind;
        if (position <= last) {
            outOfOrder = true;
        }
        last = position;
        ++heard;
        return 0;
    }
    std::uint64_t last = 0;
};

TEST_F(SoakTest, ListenersComeAndGoWhileTenThousandEventsAreAnnounced) {
    const HWND window = StartService();
    ASSERT_NE(window, nullptr);
    fakes::FakeDrive& stick = Stick(L'E');
    stick.totalFreeBytes = stick.freeBytesToCaller = 1;

    OrderCheckingListener steady;
    ASSERT_EQ(service->Register(&steady), 0u);
    constexpr int kPairs = 5000;
    std::atomic<bool> announcing{true};
    std::vector<std::unique_ptr<OrderCheckingListener>> visitors;
    for (int i = 0; i < 4; ++i) {
        visitors.push_back(std::make_unique<OrderCheckingListener>());
    }

    const bool finished = FinishesWithin(std::chrono::minutes(3), [&] {
        std::vector<std::thread> hosts;
        for (auto& visitor : visitors) {
            hosts.emplace_back([&, listener = visitor.get()] {
                std::mt19937 random(static_cast<unsigned>(reinterpret_cast<uintptr_t>(listener)));
                while (announcing) {
                    EXPECT_EQ(service->Register(listener), 0u);
                    Sleep(random() % 3);
                    EXPECT_EQ(service->Unregister(listener), 0u);
                }
            });
        }
        for (int k = 1; k <= kPairs; ++k) {
            Machine().Drive(L'E').totalBytes = 1000 + static_cast<ULONGLONG>(k);
            SendVolume(window, DBT_DEVICEARRIVAL, 0x10);
            SendVolume(window, DBT_DEVICEREMOVECOMPLETE, 0x10);
        }
        announcing = false;
        for (auto& thread : hosts) {
            thread.join();
        }
    });
    ASSERT_TRUE(finished) << "announcing stalled";
    service->Unregister(&steady);

    EXPECT_EQ(steady.heard, 2 * kPairs);
    EXPECT_FALSE(steady.outOfOrder);
    for (const auto& visitor : visitors) {
        EXPECT_FALSE(visitor->outOfOrder);
    }
    EXPECT_EQ(manager.producer.log.Entries().size(), 2u * kPairs);
}

TEST_F(SoakTest, RandomMessagesNeverUpsetTheWindow) {
    const HWND window = StartService();
    ASSERT_NE(window, nullptr);
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        Stick(letter).driveType = DRIVE_UNKNOWN + letter % 8;
    }
    std::mt19937 random(20261205);
    const WPARAM changes[] = {DBT_DEVICEARRIVAL,       DBT_DEVICEREMOVECOMPLETE,
                              DBT_DEVICEQUERYREMOVE,   DBT_DEVICEQUERYREMOVEFAILED,
                              DBT_DEVICEREMOVEPENDING, DBT_DEVICETYPESPECIFIC,
                              DBT_CONFIGCHANGED,       DBT_DEVNODES_CHANGED};
    const UINT harmless[] = {WM_NULL, WM_USER, WM_USER + 99, WM_APP + 5};

    const bool finished = FinishesWithin(std::chrono::minutes(2), [&] {
        for (int i = 0; i < 20000; ++i) {
            if (i % 2000 == 0) {
                recorder.Clear();
            }
            if (random() % 10 == 0) {
                const UINT message = harmless[random() % std::size(harmless)];
                EXPECT_EQ(SendMessageW(window, message, random(), random()),
                          DefWindowProcW(window, message, 0, 0));
                continue;
            }
            // A header of random shape: any device type, any mask, any flags.
            alignas(8) BYTE header[64];
            for (BYTE& b : header) {
                b = static_cast<BYTE>(random());
            }
            auto* volume = reinterpret_cast<DEV_BROADCAST_VOLUME*>(header);
            if (random() % 2 == 0) {
                volume->dbcv_devicetype = DBT_DEVTYP_VOLUME;
            }
            if (random() % 2 == 0) {
                volume->dbcv_unitmask = 1u << (random() % 32);
            }
            const WPARAM change =
                random() % 4 == 0 ? random() : changes[random() % std::size(changes)];
            const LPARAM lParam = random() % 8 == 0 ? 0 : reinterpret_cast<LPARAM>(header);
            EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, change, lParam), 1) << "message " << i;
        }
    });
    ASSERT_TRUE(finished);
    EXPECT_NE(support::FindOwnServiceWindow(), nullptr);
}

}  // namespace
