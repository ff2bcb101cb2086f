#include "sdk/Map.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sdk/EnumPtr.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/ResultCodes.h"

namespace {

using qv::EnumPtr;
using qv::String;
using Device = qv::rnsdk::FileScan::IDeviceScanSP::Device;
using DeviceMap = qv::Map<String, Device>;

Device MakeDevice(const wchar_t* path, std::uint64_t fullSize) {
    Device device;
    device.path = path;
    device.fullSize = fullSize;
    return device;
}

String KeyNumber(int i) {
    return String((L"\\\\?\\Volume{" + std::to_wstring(i) + L"}\\").c_str());
}

TEST(Map, DuplicateInsertKeepsTheFirstValueAndKeysAreCaseSensitive) {
    DeviceMap map;
    EXPECT_EQ(map.Insert(String(L"E:\\"), MakeDevice(L"E:\\", 100)), qv::kResultSuccess);
    EXPECT_EQ(map.Insert(String(L"E:\\"), MakeDevice(L"E:\\", 200)), qv::kResultAlreadyExists);
    EXPECT_EQ(map.Insert(String(L"e:\\"), MakeDevice(L"e:\\", 300)), qv::kResultSuccess);
    EXPECT_EQ(map.GetCount(), 2u);
    EXPECT_EQ(map.Find(String(L"E:\\"))->fullSize, 100u);
    EXPECT_EQ(map.Find(String(L"e:\\"))->fullSize, 300u);

    EXPECT_EQ(map.Remove(String(L"e:\\")), qv::kResultSuccess);
    EXPECT_EQ(map.Remove(String(L"e:\\")), qv::kResultNotFound);
    EXPECT_NE(map.Find(String(L"E:\\")), nullptr);
}

TEST(Map, HundredKeysAreAllFoundAndStayPut) {
    DeviceMap map;
    ASSERT_EQ(map.Insert(String(L"E:\\"), MakeDevice(L"E:\\", 7)), qv::kResultSuccess);
    const Device* first = map.Find(String(L"E:\\"));
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(map.Insert(KeyNumber(i), MakeDevice(KeyNumber(i).GetString(), i)), 0u) << i;
    }
    EXPECT_EQ(map.GetCount(), 101u);
    for (int i = 0; i < 100; ++i) {
        const Device* found = map.Find(KeyNumber(i));
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(found->fullSize, static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(map.Find(String(L"E:\\")), first) << "growth moved a stored element";
}

// Device records copy their strings: neither the caller's record nor a copy from Get shares a
// buffer with the stored one.
TEST(Map, InsertAndGetMakeIndependentCopies) {
    DeviceMap map;
    Device stored = MakeDevice(L"G:\\", 16000000000ull);
    stored.remote = L"\\\\server\\share";
    map.Insert(String(L"G:\\"), stored);
    stored.remote = L"\\\\caller\\share";

    Device out;
    ASSERT_EQ(map.Get(String(L"G:\\"), out), qv::kResultSuccess);
    EXPECT_EQ(out.fullSize, 16000000000ull);
    out.path = L"H:\\";
    out.remote = L"\\\\other\\share";
    EXPECT_STREQ(map.Find(String(L"G:\\"))->path.GetString(), L"G:\\");
    EXPECT_STREQ(map.Find(String(L"G:\\"))->remote.GetString(), L"\\\\server\\share");

    EXPECT_EQ(map.Get(String(L"Z:\\"), out), qv::kResultNotFound);
    EXPECT_STREQ(out.path.GetString(), L"H:\\") << "a miss leaves the output alone";
}

// Erases every other element while walking, then the rest, the last one at the end.
TEST(MapEnum, EraseAtWalksEveryElementToTheEnd) {
    DeviceMap map;
    for (int i = 0; i < 10; ++i) {
        map.Insert(KeyNumber(i), MakeDevice(KeyNumber(i).GetString(), i));
    }
    EnumPtr<qv::IEnum<String, Device>> enumerator(map.GetEnum());
    std::set<std::wstring> visited;
    for (int i = 0; enumerator->HasCurrent(); ++i) {
        visited.insert(enumerator->GetKey()->GetString());
        i % 2 == 0 ? map.EraseAt(*enumerator) : enumerator->MoveNext();
    }
    EXPECT_EQ(visited.size(), 10u);
    EXPECT_EQ(map.GetCount(), 5u);

    qv::EnumPosition next = enumerator->Reset();
    while (enumerator->HasCurrent()) {
        visited.erase(enumerator->GetKey()->GetString());
        next = map.EraseAt(*enumerator);
    }
    EXPECT_EQ(next, nullptr);
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(visited.size(), 5u) << "the second walk met other elements than the first kept";
}

}  // namespace
