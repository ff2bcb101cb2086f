#include "Map.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "EnumPtr.h"
#include "IDeviceScanSP.h"
#include "ResultCodes.h"

namespace {

using qv::EnumPtr;
using qv::String;
using Device = qv::rnsdk::FileScan::IDeviceScanSP::Device;
using DeviceMap = qv::Map<String, Device>;

Device MakeDevice(const wchar_t* path, std::uint64_t fullSize) {
    Device device;
    device.type = qv::rnsdk::FileScan::IDeviceScanSP::kDeviceTypeLocal;
    device.path = path;
    device.remote = L"";
    device.fullSize = fullSize;
    device.storedSize = fullSize / 2;
    device.sessionId = 1;
    return device;
}

std::wstring KeyNumber(int i) {
    return L"\\\\?\\Volume{" + std::to_wstring(i) + L"}\\";
}

// The keys an enumerator visits, from where it stands to the end.
std::multiset<std::wstring> RemainingKeys(qv::IConstEnum<String, Device>& enumerator) {
    std::multiset<std::wstring> keys;
    for (; enumerator.HasCurrent(); enumerator.MoveNext()) {
        keys.insert(enumerator.GetKey()->GetString());
    }
    return keys;
}

TEST(MapKeyHash, MatchesValuesComputedIndependently) {
    const qv::MapKeyHash<String> hash;
    EXPECT_EQ(hash(String()), 5381u) << "a key without buffer hashes as the empty text";
    EXPECT_EQ(hash(String(L"")), 5381u);
    EXPECT_EQ(hash(String(L"E:\\")), 0x0b87e040u);
    EXPECT_EQ(hash(String(L"\u20ac:\\")), 0x0c11b667u) << "code units above 0x7f";
    EXPECT_EQ(hash(String(L"\xd83d\xde00")), 0x762822u) << "surrogates are two code units";
    EXPECT_EQ(hash(String(L"\\\\fileserver\\share\\scans\\2024\\")), 0xce1349adf7690f37ull)
        << "long keys wrap in 64 bits";
}

TEST(MapKeyEqual, ComparesWholeTextsExactly) {
    const qv::MapKeyEqual<String> equal;
    EXPECT_TRUE(equal(String(L"E:\\"), String(L"E:\\")));
    EXPECT_FALSE(equal(String(L"E:\\"), String(L"e:\\")));
    EXPECT_FALSE(equal(String(L"E:\\"), String(L"E:")));
    EXPECT_FALSE(equal(String(L"E:"), String(L"E:\\")));
    EXPECT_TRUE(equal(String(), String(L""))) << "no buffer compares as the empty text";
    EXPECT_FALSE(equal(String(), String(L"E:\\")));
}

TEST(Map, NewMapIsEmpty) {
    DeviceMap map;
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(map.Find(String(L"E:\\")), nullptr);
    EnumPtr<qv::IEnum<String, Device>> enumerator(map.GetEnum());
    EXPECT_FALSE(enumerator->HasCurrent());
    EXPECT_EQ(enumerator->GetValue(), nullptr);
    EnumPtr<qv::IConstEnum<String, Device>> constEnumerator(map.GetConstEnum());
    EXPECT_FALSE(constEnumerator->HasCurrent());
    EXPECT_EQ(constEnumerator->Reset(), nullptr);
}

TEST(Map, DuplicateInsertKeepsTheFirstValue) {
    DeviceMap map;
    const String key(L"E:\\");
    EXPECT_EQ(map.Insert(key, MakeDevice(L"E:\\", 100)), qv::kResultSuccess);
    const Device second = MakeDevice(L"E:\\", 200);
    EXPECT_EQ(map.Insert(key, second), qv::kResultAlreadyExists);
    EXPECT_EQ(map.GetCount(), 1u);
    ASSERT_NE(map.Find(key), nullptr);
    EXPECT_EQ(map.Find(key)->fullSize, 100u);
    EXPECT_STREQ(key.GetString(), L"E:\\") << "the caller's key is copied, not taken";
    EXPECT_STREQ(second.path.GetString(), L"E:\\");
}

TEST(Map, KeysAreCaseSensitive) {
    DeviceMap map;
    EXPECT_EQ(map.Insert(String(L"E:\\"), MakeDevice(L"E:\\", 1)), qv::kResultSuccess);
    EXPECT_EQ(map.Insert(String(L"e:\\"), MakeDevice(L"e:\\", 2)), qv::kResultSuccess);
    EXPECT_EQ(map.GetCount(), 2u);
    EXPECT_EQ(map.Find(String(L"E:\\"))->fullSize, 1u);
    EXPECT_EQ(map.Find(String(L"e:\\"))->fullSize, 2u);
}

TEST(Map, HundredKeysAreAllFoundAndStayPut) {
    DeviceMap map;
    ASSERT_EQ(map.Insert(String(L"E:\\"), MakeDevice(L"E:\\", 7)), qv::kResultSuccess);
    const Device* first = map.Find(String(L"E:\\"));
    for (int i = 0; i < 100; ++i) {
        const String key(KeyNumber(i).c_str());
        ASSERT_EQ(map.Insert(key, MakeDevice(key.GetString(), i)), qv::kResultSuccess) << i;
        EXPECT_LE(map.GetCount(), map.GetBucketCount()) << "load factor above 1 after " << i;
    }
    EXPECT_EQ(map.GetCount(), 101u);
    for (int i = 0; i < 100; ++i) {
        const Device* found = map.Find(String(KeyNumber(i).c_str()));
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(found->fullSize, static_cast<std::uint64_t>(i));
        EXPECT_STREQ(found->path.GetString(), KeyNumber(i).c_str());
    }
    EXPECT_EQ(map.Find(String(L"E:\\")), first) << "growth moved a stored element";
    EXPECT_EQ(first->fullSize, 7u);
}

TEST(Map, RemoveTakesOnlyPresentKeys) {
    DeviceMap map;
    map.Insert(String(L"E:\\"), MakeDevice(L"E:\\", 1));
    map.Insert(String(L"F:\\"), MakeDevice(L"F:\\", 2));
    EXPECT_EQ(map.Remove(String(L"G:\\")), qv::kResultNotFound);
    EXPECT_EQ(map.Remove(String(L"e:\\")), qv::kResultNotFound);
    EXPECT_EQ(map.GetCount(), 2u);
    EXPECT_EQ(map.Remove(String(L"E:\\")), qv::kResultSuccess);
    EXPECT_EQ(map.Remove(String(L"E:\\")), qv::kResultNotFound);
    EXPECT_EQ(map.Find(String(L"E:\\")), nullptr);
    EXPECT_NE(map.Find(String(L"F:\\")), nullptr);
    EXPECT_EQ(map.GetCount(), 1u);
}

TEST(Map, GetGivesAnIndependentCopy) {
    DeviceMap map;
    Device stored = MakeDevice(L"G:\\", 16000000000ull);
    stored.type = qv::rnsdk::FileScan::IDeviceScanSP::kDeviceTypeRemote;
    stored.remote = L"\\\\server\\share";
    map.Insert(String(L"G:\\"), stored);

    Device out;
    ASSERT_EQ(map.Get(String(L"G:\\"), out), qv::kResultSuccess);
    EXPECT_EQ(out.type, stored.type);
    EXPECT_EQ(out.fullSize, stored.fullSize);
    EXPECT_EQ(out.storedSize, stored.storedSize);
    EXPECT_EQ(out.sessionId, stored.sessionId);
    EXPECT_STREQ(out.remote.GetString(), L"\\\\server\\share");
    out.path = L"H:\\";
    out.remote = L"\\\\other\\share";
    EXPECT_STREQ(map.Find(String(L"G:\\"))->path.GetString(), L"G:\\");
    EXPECT_STREQ(map.Find(String(L"G:\\"))->remote.GetString(), L"\\\\server\\share");

    Device untouched = MakeDevice(L"Z:\\", 5);
    EXPECT_EQ(map.Get(String(L"Z:\\"), untouched), qv::kResultNotFound);
    EXPECT_STREQ(untouched.path.GetString(), L"Z:\\");
    EXPECT_EQ(untouched.fullSize, 5u);
}

TEST(MapEnum, EnumeratorsVisitEveryElementOnce) {
    DeviceMap map;
    std::multiset<std::wstring> expected;
    for (int i = 0; i < 20; ++i) {
        map.Insert(String(KeyNumber(i).c_str()), MakeDevice(KeyNumber(i).c_str(), i));
        expected.insert(KeyNumber(i));
    }
    EnumPtr<qv::IConstEnum<String, Device>> constEnumerator(map.GetConstEnum());
    EXPECT_EQ(RemainingKeys(*constEnumerator), expected);
    EXPECT_EQ(constEnumerator->MoveNext(), nullptr) << "past the end it stays there";
    EXPECT_NE(constEnumerator->Reset(), nullptr);
    EXPECT_EQ(RemainingKeys(*constEnumerator), expected) << "after Reset";

    EnumPtr<qv::IEnum<String, Device>> enumerator(map.GetEnum());
    for (; enumerator->HasCurrent(); enumerator->MoveNext()) {
        EXPECT_STREQ(enumerator->GetValue()->path.GetString(), enumerator->GetKey()->GetString());
        enumerator->GetValue()->storedSize = 42;
    }
    EXPECT_EQ(map.Find(String(KeyNumber(3).c_str()))->storedSize, 42u) << "values are writable";
}

TEST(MapEnum, MoveNextAndEraseAtReportPositions) {
    DeviceMap map;
    map.Insert(String(L"E:\\"), MakeDevice(L"E:\\", 1));
    map.Insert(String(L"F:\\"), MakeDevice(L"F:\\", 2));
    EnumPtr<qv::IEnum<String, Device>> enumerator(map.GetEnum());
    const qv::EnumPosition first = enumerator->Reset();
    const qv::EnumPosition left = enumerator->MoveNext();
    EXPECT_EQ(left, first);
    const std::wstring secondKey = enumerator->GetKey()->GetString();

    enumerator->Reset();
    const qv::EnumPosition next = map.EraseAt(*enumerator);
    ASSERT_TRUE(enumerator->HasCurrent());
    EXPECT_EQ(enumerator->GetKey()->GetString(), secondKey) << "moved to the following element";
    EXPECT_EQ(enumerator->MoveNext(), next) << "EraseAt returned where it moved to";
    EXPECT_EQ(map.GetCount(), 1u);
}

TEST(MapEnum, EraseAtWalksToTheEnd) {
    DeviceMap map;
    for (int i = 0; i < 10; ++i) {
        map.Insert(String(KeyNumber(i).c_str()), MakeDevice(KeyNumber(i).c_str(), i));
    }
    EnumPtr<qv::IEnum<String, Device>> enumerator(map.GetEnum());
    // Erase every other element while walking.
    std::multiset<std::wstring> kept;
    for (bool erase = true; enumerator->HasCurrent(); erase = !erase) {
        if (!erase) {
            kept.insert(enumerator->GetKey()->GetString());
            enumerator->MoveNext();
            continue;
        }
        map.EraseAt(*enumerator);
    }
    EXPECT_EQ(map.GetCount(), 5u);
    EnumPtr<qv::IConstEnum<String, Device>> check(map.GetConstEnum());
    EXPECT_EQ(RemainingKeys(*check), kept);

    // Erasing the last element leaves the enumerator past the end.
    enumerator->Reset();
    while (map.GetCount() > 1) {
        map.EraseAt(*enumerator);
    }
    ASSERT_TRUE(enumerator->HasCurrent());
    EXPECT_EQ(map.EraseAt(*enumerator), nullptr);
    EXPECT_FALSE(enumerator->HasCurrent());
    EXPECT_EQ(map.GetCount(), 0u);
}

TEST(Map, ClearEmptiesAndShrinksTheTable) {
    DeviceMap map;
    const std::size_t initialBuckets = map.GetBucketCount();
    for (int i = 0; i < 50; ++i) {
        map.Insert(String(KeyNumber(i).c_str()), MakeDevice(KeyNumber(i).c_str(), i));
    }
    ASSERT_GT(map.GetBucketCount(), initialBuckets);
    map.Clear();
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(map.GetBucketCount(), initialBuckets);
    EXPECT_EQ(map.Find(String(KeyNumber(1).c_str())), nullptr);
    EXPECT_EQ(map.Insert(String(KeyNumber(1).c_str()), MakeDevice(L"E:\\", 1)), qv::kResultSuccess);
}

}  // namespace
