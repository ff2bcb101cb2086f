#include <gtest/gtest.h>

#include "Severity.h"
#include "support/ServiceFixture.h"

namespace {

using logging::LOG_INFO;
using RemovalTest = support::DeviceFixture;
using Events = std::vector<std::wstring>;

constexpr wchar_t kRemoval[] = L"DeviceScanSP::OnDeviceRemoveComplete";

TEST_F(RemovalTest, MountedDriveIsAnnouncedWithTheRecordStoredAtItsArrival) {
    Machine().Drive(L'E');
    Arrive(L"E:\\");
    Machine().Reset();  // the drive is gone: it can no longer be measured
    Remove(L"E:\\");

    EXPECT_TRUE(Logged(kRemoval, LOG_INFO, L"Device unMounted [path = E:\\]"));
    EXPECT_TRUE(Logged(kRemoval, LOG_INFO, L"removing device [path = E:\\] [type = 1]"));
    ASSERT_EQ(host.producer.Events(), (Events{L"mounted E:\\", L"unmounted E:\\"}));
    ASSERT_EQ(listener.Events(), host.producer.Events());
    EXPECT_EQ(host.producer.heard[1].argument, 0xDEADu);
    EXPECT_EQ(listener.heard[1].fullSize, 16000000000ull);
    EXPECT_EQ(listener.heard[1].storedSize, 10000000000ull);
    EXPECT_EQ(listener.heard[1].type, 1);
}

TEST_F(RemovalTest, OnlyTheExactPathOfAMountedDriveIsAnnounced) {
    Remove(L"F:\\");
    EXPECT_TRUE(Logged(kRemoval, LOG_INFO, L"Device unMounted [path = F:\\]"));
    EXPECT_EQ(MessageCount(), 1);
    Machine().Drive(L'E');
    Arrive(L"E:\\");
    Remove(L"e:\\");
    Remove(L"E:\\");
    Remove(L"E:\\");
    Arrive(L"E:\\");
    EXPECT_EQ(listener.Events(), (Events{L"mounted E:\\", L"unmounted E:\\", L"mounted E:\\"}));
    EXPECT_EQ(host.producer.Events(), listener.Events());
}

}  // namespace
