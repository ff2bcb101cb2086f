#include "logging/LogApi.h"
#include "tests/unit/support/ServiceFixture.h"

namespace {

using devicescan::logging::LOG_INFO;
using RemovalTest = support::DeviceFixture;
using Events = std::vector<std::wstring>;

constexpr wchar_t kRemoval[] = L"DeviceScanSP::OnDeviceRemoveComplete";

TEST_F(RemovalTest, OnlyAMountedDriveIsAnnouncedWithTheRecordStoredAtItsArrival) {
    Remove(L"F:\\");
    EXPECT_TRUE(Logged(kRemoval, LOG_INFO, L"Device unMounted [path = F:\\]"));
    Arrive(L"E:\\");
    Machine().Drive(L'E').totalBytes *= 2;  // the removal does not measure the drive again
    Remove(L"e:\\");
    Remove(L"E:\\");
    Remove(L"E:\\");
    Arrive(L"E:\\");

    EXPECT_TRUE(Logged(kRemoval, LOG_INFO, L"removing device [path = E:\\] [type = 1]"));
    const Events expected{L"mounted E:\\", L"unmounted E:\\", L"mounted E:\\"};
    ASSERT_EQ(listener.Events(), expected) << "paths match case-sensitively, and once";
    ASSERT_EQ(host.producer.Events(), expected);
    EXPECT_EQ(host.producer.heard[1].argument, 0xDEADu);
    EXPECT_EQ(listener.heard[1].device.fullSize, 16000000000ull);
    EXPECT_EQ(listener.heard[1].device.storedSize, 10000000000ull);
    EXPECT_EQ(listener.heard[1].device.type, 1);
}

}  // namespace
