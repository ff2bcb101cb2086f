// qv::Map of devices next to std::unordered_map<std::wstring, ...> holding the same records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/Alternate.h"
#include "bench/BenchHarness.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/Map.h"

namespace devicescan::bench {

namespace {

using Device = qv::rnsdk::FileScan::IDeviceScanSP::Device;

// The peer's record: Device with standard strings.
struct StdDevice {
    std::int32_t type = 0;
    std::wstring path;
    std::wstring remote;
    std::uint64_t fullSize = 0;
    std::uint64_t storedSize = 0;
    std::uint32_t sessionId = 0xFFFFFFFF;
};

// Both maps behind the same four operations, so one body measures either.
struct OurMap {
    using Key = qv::String;
    using Value = Device;
    qv::Map<qv::String, Device> map;
    static Key MakeKey(const std::wstring& text) { return Key(text.c_str()); }
    static Value MakeValue(const std::wstring& text) {
        Device device;
        device.type = 1;
        device.path = text.c_str();
        device.remote = L"";
        device.fullSize = 16ull << 30;
        device.storedSize = 1ull << 30;
        device.sessionId = 1;
        return device;
    }
    bool Insert(const Key& key, const Value& value) { return map.Insert(key, value) == 0; }
    const Value* Find(const Key& key) const { return map.Find(key); }
    bool Remove(const Key& key) { return map.Remove(key) == 0; }
};

struct StdMap {
    using Key = std::wstring;
    using Value = StdDevice;
    std::unordered_map<std::wstring, StdDevice> map;
    static Key MakeKey(const std::wstring& text) { return text; }
    static Value MakeValue(const std::wstring& text) {
        return StdDevice{1, text, L"", 16ull << 30, 1ull << 30, 1};
    }
    bool Insert(const Key& key, const Value& value) { return map.emplace(key, value).second; }
    const Value* Find(const Key& key) const {
        const auto found = map.find(key);
        return found == map.end() ? nullptr : &found->second;
    }
    bool Remove(const Key& key) { return map.erase(key) == 1; }
};

std::wstring DriveRoot(std::size_t i) {
    return std::wstring(1, static_cast<wchar_t>(L'A' + i)) + L":\\";
}

// A volume GUID path such as \\?\Volume{1b4e28ba-2fa1-11d2-883f-0016d3cca427}\ with
// scattered hex digits, as the system makes them.
std::wstring VolumeName(std::size_t i) {
    std::uint64_t x = 0x9e3779b97f4a7c15ull * (i + 1);
    std::wstring digits;
    for (int d = 0; d < 32; ++d) {
        x ^= x >> 29;
        x *= 0xbf58476d1ce4e5b9ull;
        digits += L"0123456789abcdef"[x >> 60];
    }
    return L"\\\\?\\Volume{" + digits.substr(0, 8) + L"-" + digits.substr(8, 4) + L"-" +
           digits.substr(12, 4) + L"-" + digits.substr(16, 4) + L"-" + digits.substr(20, 12) +
           L"}\\";
}

template <typename T>
void KeepAlive(const T& value) {
    asm volatile("" : : "r"(&value) : "memory");
}

// A table of mounted devices: keys of one shape, the first `stored` of them in the map.
template <typename MapT>
struct Fixture {
    static constexpr std::size_t kKeys = 26;
    static constexpr std::size_t kStored = 20;

    explicit Fixture(bool driveRoots) {
        for (std::size_t i = 0; i < kKeys; ++i) {
            const std::wstring text = driveRoots ? DriveRoot(i) : VolumeName(i);
            keys.push_back(MapT::MakeKey(text));
            values.push_back(MapT::MakeValue(text));
            if (i < kStored) {
                map.Insert(keys.back(), values.back());
            }
        }
    }
    const typename MapT::Key& Present(std::size_t i) const { return keys[i % kStored]; }
    const typename MapT::Key& Absent(std::size_t i) const {
        return keys[kStored + i % (kKeys - kStored)];
    }

    MapT map;
    std::vector<typename MapT::Key> keys;
    std::vector<typename MapT::Value> values;
};

template <typename MapT>
double InsertThenRemove(const bench::Context& context, bool driveRoots) {
    Fixture<MapT> fixture(driveRoots);
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const auto& key = fixture.Absent(i);
            fixture.map.Insert(key, fixture.values[0]);
            fixture.map.Remove(key);
        }
    });
}

template <typename MapT>
double InsertPresent(const bench::Context& context, bool driveRoots) {
    Fixture<MapT> fixture(driveRoots);
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            KeepAlive(fixture.map.Insert(fixture.Present(i), fixture.values[0]));
        }
    });
}

template <typename MapT>
double FindPresent(const bench::Context& context, bool driveRoots) {
    Fixture<MapT> fixture(driveRoots);
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            KeepAlive(fixture.map.Find(fixture.Present(i)));
        }
    });
}

template <typename MapT>
double RemoveAbsent(const bench::Context& context, bool driveRoots) {
    Fixture<MapT> fixture(driveRoots);
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            KeepAlive(fixture.map.Remove(fixture.Absent(i)));
        }
    });
}

using Measure = double (*)(const bench::Context&, bool);

void CompareAll(const bench::Context& context, bool driveRoots) {
    const std::string keys = driveRoots ? " (drive roots)" : " (volume paths)";
    auto row = [&](const char* what, Measure ours, Measure peer) {
        const auto ns = bench::Alternate(context, {[&] { return ours(context, driveRoots); },
                                                   [&] { return peer(context, driveRoots); }});
        context.Compare(what + keys, "qv::Map", ns[0], "std::unordered_map", ns[1]);
    };
    row("insert new key, then remove it", &InsertThenRemove<OurMap>, &InsertThenRemove<StdMap>);
    row("insert present key", &InsertPresent<OurMap>, &InsertPresent<StdMap>);
    row("find present key", &FindPresent<OurMap>, &FindPresent<StdMap>);
    row("remove absent key", &RemoveAbsent<OurMap>, &RemoveAbsent<StdMap>);
}

}  // namespace

BENCHMARK_GROUP(Map) {
    CompareAll(context, true);
    CompareAll(context, false);
}

}  // namespace devicescan::bench
