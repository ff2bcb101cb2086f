#include "sdk/Map.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sdk/EnumPtr.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/ResultCodes.h"

namespace {

using qv::String;
using Device = qv::rnsdk::FileScan::IDeviceScanSP::Device;
using DeviceMap = qv::Map<String, Device>;

Device OfSize(std::uint64_t fullSize) {
    Device device;
    device.fullSize = fullSize;
    return device;
}

String KeyNumber(int i) {
    return String((L"\\\\?\\Volume{" + std::to_wstring(i) + L"}\\").c_str());
}

// Device records copy their strings: neither the caller's record nor a copy from Get shares a
// buffer with the stored one.
TEST(Map, InsertKeepsTheFirstValueOfACaseSensitiveKeyAndCopiesRecordsInAndOut) {
    DeviceMap map;
    EXPECT_EQ(map.Insert(String(L"E:\\"), OfSize(100)), qv::kResultSuccess);
    EXPECT_EQ(map.Insert(String(L"E:\\"), OfSize(200)), qv::kResultAlreadyExists);
    EXPECT_EQ(map.Insert(String(L"e:\\"), OfSize(300)), qv::kResultSuccess);
    EXPECT_EQ(map.GetCount(), 2u);
    EXPECT_EQ(map.Find(String(L"E:\\"))->fullSize, 100u);
    EXPECT_EQ(map.Find(String(L"e:\\"))->fullSize, 300u);

    EXPECT_EQ(map.Remove(String(L"e:\\")), qv::kResultSuccess);
    EXPECT_EQ(map.Remove(String(L"e:\\")), qv::kResultNotFound);
    EXPECT_NE(map.Find(String(L"E:\\")), nullptr);

    Device stored{.path = String(L"G:\\"), .remote = String(L"\\\\server\\share")};
    map.Insert(String(L"G:\\"), stored);
    stored.remote = L"\\\\caller\\share";

    Device out;
    ASSERT_EQ(map.Get(String(L"G:\\"), out), qv::kResultSuccess);
    EXPECT_STREQ(out.remote.GetString(), L"\\\\server\\share");
    out.remote = L"\\\\other\\share";
    EXPECT_STREQ(map.Find(String(L"G:\\"))->remote.GetString(), L"\\\\server\\share");

    EXPECT_EQ(map.Get(String(L"Z:\\"), out), qv::kResultNotFound);
    EXPECT_STREQ(out.remote.GetString(), L"\\\\other\\share") << "a miss leaves the output alone";
}

// A hundred keys grow the table many times over: each is still found, an element stays where it
// was stored, and a walk that erases every other element, then the rest, meets each key once.
TEST(MapEnum, GrownTableFindsEveryKeyAndEraseAtWalksEveryElementToTheEnd) {
    DeviceMap map;
    ASSERT_EQ(map.Insert(KeyNumber(0), {}), qv::kResultSuccess);
    const Device* first = map.Find(KeyNumber(0));
    for (int i = 1; i < 100; ++i) {
        ASSERT_EQ(map.Insert(KeyNumber(i), OfSize(i)), 0u);
    }
    for (int i = 0; i < 100; ++i) {
        ASSERT_NE(map.Find(KeyNumber(i)), nullptr) << i;
        EXPECT_EQ(map.Find(KeyNumber(i))->fullSize, static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(map.Find(KeyNumber(0)), first) << "growth moved a stored element";

    qv::EnumPtr<qv::IEnum<String, Device>> enumerator(map.GetEnum());
    std::set<std::wstring> visited;
    for (int i = 0; enumerator->HasCurrent(); ++i) {
        visited.insert(enumerator->GetKey()->GetString());
        i % 2 == 0 ? map.EraseAt(*enumerator) : enumerator->MoveNext();
    }
    EXPECT_EQ(visited.size(), 100u);
    EXPECT_EQ(map.GetCount(), 50u);

    qv::EnumPosition next = enumerator->Reset();
    while (enumerator->HasCurrent()) {
        visited.erase(enumerator->GetKey()->GetString());
        next = map.EraseAt(*enumerator);
    }
    EXPECT_EQ(next, nullptr);
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(visited.size(), 50u) << "the second walk met other elements than the first kept";
}

}  // namespace
