#include <gtest/gtest.h>

#include "IDeviceScanSP.h"

namespace {

using Device = qv::rnsdk::FileScan::IDeviceScanSP::Device;

TEST(DeviceRecord, FreshRecordIsUnannounceable) {
    const Device device;
    EXPECT_EQ(device.type, 0);
    EXPECT_STREQ(device.path.GetString(), L"");
    EXPECT_STREQ(device.remote.GetString(), L"");
    EXPECT_EQ(device.fullSize, 0u);
    EXPECT_EQ(device.storedSize, 0u);
    EXPECT_EQ(device.sessionId, 0xFFFFFFFFu);
}

TEST(DeviceRecord, CopiesOwnTheirStrings) {
    Device original;
    original.type = 2;
    original.path = L"G:\\";
    original.remote = L"\\\\server\\share";
    original.fullSize = 16000000000ull;
    original.storedSize = 10000000000ull;
    original.sessionId = 1;

    Device copy(original);
    copy.path = L"H:\\";
    copy.remote = L"\\\\other\\share";
    EXPECT_STREQ(original.path.GetString(), L"G:\\");
    EXPECT_STREQ(original.remote.GetString(), L"\\\\server\\share");

    Device assigned;
    assigned = original;
    EXPECT_NE(assigned.path.GetString(), original.path.GetString());
    EXPECT_STREQ(assigned.remote.GetString(), L"\\\\server\\share");
    EXPECT_EQ(assigned.fullSize, 16000000000ull);
    EXPECT_EQ(assigned.storedSize, 10000000000ull);
    EXPECT_EQ(assigned.sessionId, 1u);
}

}  // namespace
