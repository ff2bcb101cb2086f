// The archive readers under bad input, one program per reader (ARCHIVE_FUZZ_ZIP, _TAR or
// _GZIP): valid archives of every framing the reader takes, with faults planted (bytes flipped
// or set to a field's extreme, ranges cut out, repeated or cut off, junk put in). Nothing may
// crash or hang; no entry may give more than its header declared, or than the input can hold
// or inflate to; the entries are bounded by the input's size; memory stays bounded. The valid
// archives themselves must read back exactly.
#include <windows.h>

#include <psapi.h>

#include "host/scan/archive/GzipSource.h"
#include "host/scan/archive/MemorySource.h"
#include "host/scan/archive/TarReader.h"
#include "host/scan/archive/ZipReader.h"
#include "tests/fuzz/RandomInput.h"
#include "tests/support/ArchiveWriter.h"

namespace {

using namespace devicescan::scan::archive;
using namespace test_support;
using D = ZipItem::Descriptor;

[[maybe_unused]] constexpr std::uint64_t kMaxRatio = 1032;  // deflate's most output per input byte

// What a reader made of an input: "name size data" per entry (data of those read).
struct Listing {
    std::vector<std::string> entries;
    ByteSource::End end = ByteSource::End::kNotYet;
    bool overran = false;  // an entry gave more than it may, or there were too many
};

// One entry of a Listing.
std::string Line(const std::string& name, std::uint64_t size, const std::string& data) {
    return name + " " + std::to_string(size) + " " + data;
}

class ArchiveFuzz : public devicescan::fuzz::Fuzzer {
  private:
    // Reads source to its end in blocks of a random size, keeping at most a megabyte.
    std::string Drain(ByteSource& source, std::uint64_t bound, bool& overran) {
        std::string data(1 + random.Below(1 << 16), '\0');
        std::string kept;
        std::uint64_t total = 0;
        for (bool over = false; !over;) {
            const std::size_t got =
                source.Read(reinterpret_cast<std::uint8_t*>(data.data()), data.size());
            kept.append(data.data(), kept.size() < (1 << 20) ? got : 0);
            over = got == 0 || (overran |= (total += got) > bound);
        }
        return kept;
    }

    // Reads every entry, or some at random; a gzip stream's output is capped at cap.
    Listing Read(const std::string& input, bool readAll, [[maybe_unused]] std::uint64_t cap) {
        MemorySource source({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
        Listing listing;
        const auto add = [&](const std::string& name, std::uint64_t size, ByteSource* data,
                             std::uint64_t bound) {
            const bool read = data != nullptr && (readAll || random.OneIn(2));
            listing.entries.push_back(
                Line(name, size, read ? Drain(*data, bound, listing.overran) : "-"));
        };
#if defined(ARCHIVE_FUZZ_ZIP)
        ZipReader reader(source);
        ZipEntry entry;
        while (!listing.overran && reader.Next(entry)) {
            listing.overran |= listing.entries.size() > input.size() / 30;
            add(entry.name, entry.size, entry.IsReadable() ? &reader.Data() : nullptr,
                entry.sizeKnown ? entry.size : kMaxRatio * input.size());
        }
#elif defined(ARCHIVE_FUZZ_TAR)
        TarReader reader(source);
        TarEntry entry;
        while (!listing.overran && reader.Next(entry)) {
            listing.overran |= listing.entries.size() > input.size() / 512;
            add(entry.name, entry.size, &reader.Data(),
                std::min<std::uint64_t>(entry.size, input.size()));
        }
#else
        GzipSource reader(source, cap);
        readAll = true;  // a stream has nothing to pass over
        add("", 0, &reader, std::min(cap, kMaxRatio * input.size()));
#endif
        listing.end = listing.overran ? ByteSource::End::kLimited : reader.Ended();
        return listing;
    }

    std::string Content() {
        const std::size_t size = random.OneIn(6) ? 0 : random.Below(random.OneIn(4) ? 4000 : 100);
        return random.OneIn(2) ? random.Bytes(size) : std::string(size, 'z');
    }

    // A valid archive and what it must read back as.
    std::pair<std::string, Listing> Seed() {
        Listing listing{{}, ByteSource::End::kFinished};
        const std::size_t count = 1 + random.Below(4);
#if defined(ARCHIVE_FUZZ_ZIP)
        std::vector<ZipItem> items;
        for (std::size_t i = 0; i < count; ++i) {
            ZipItem item{"m" + std::to_string(i), Content(), !random.OneIn(3)};
            item.zip64 = random.OneIn(4);
            item.utf8 = random.OneIn(2);
            item.descriptor = item.deflate ? static_cast<D>(random.Below(5)) : D::kNone;  // any
            item.encrypted = item.descriptor == D::kNone && random.OneIn(8);
            listing.entries.push_back(Line(item.name,
                                           item.descriptor == D::kNone ? item.content.size() : 0,
                                           item.encrypted ? "-" : item.content));
            items.push_back(item);
        }
        return {ZipOf(items), listing};
#elif defined(ARCHIVE_FUZZ_TAR)
        std::vector<TarItem> items;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string name = std::string(random.OneIn(3) ? 90 + random.Below(60) : 1, 'p') +
                                     "/" + std::to_string(i);
            items.push_back({name, Content()});
            listing.entries.push_back(
                Line(name, items.back().content.size(), items.back().content));
        }
        return {TarOf(items, static_cast<TarFormat>(random.Below(3))), listing};
#else
        std::vector<GzipMember> members;
        std::string content;
        for (std::size_t i = 0; i < count; ++i) {
            members.push_back({Content(), random.OneIn(2) ? "name" : ""});
            content += members.back().content;
        }
        listing.entries.push_back(Line("", 0, content));
        return {GzipOf(members) + std::string(random.OneIn(4) ? random.Below(600) : 0, '\0'),
                listing};
#endif
    }

    std::vector<std::pair<std::string, Listing>> seeds;

    // A fault or four planted in a valid archive: a bit flipped, a field set to an extreme, a
    // range cut out or repeated, the end cut off, junk put in.
    std::string Mutate(std::string bytes) {
        for (std::size_t faults = 1 + random.Below(4); faults > 0 && !bytes.empty(); --faults) {
            const std::size_t at = random.Below(bytes.size());
            const std::size_t length =
                1 + random.Below(std::min<std::size_t>(64, bytes.size() - at));
            const std::string flipped(1, static_cast<char>(bytes[at] ^ (1 << random.Below(8))));
            const std::string extreme =
                random.Pick<std::string>({std::string(4, '\xFF'), std::string(4, '\0'),
                                          "\x7F\xFF\xFF\xFF", "PK\x03\x04", "PK\x07\x08"});
            const std::string put[] = {
                flipped, extreme, "", bytes.substr(at, length), "", random.Bytes(length)};
            const std::size_t replaced[] = {1, 4, length, 0, std::string::npos, 0};
            const std::size_t kind = random.Below(6);
            bytes.replace(at, replaced[kind], put[kind]);
        }
        return bytes;
    }

    void Input(std::size_t index) override {
        while (seeds.size() < 200) {  // made once the seed is set
            seeds.push_back(Seed());
        }
        const std::string input = Mutate(seeds[random.Below(seeds.size())].first);
        const Listing listing =
            Read(input, false, random.OneIn(2) ? GzipSource::kNoLimit : random.Below(6000));
        Expect(!listing.overran, index, "an entry gave more than it may, or too many came", input);
        Expect(listing.end != ByteSource::End::kNotYet, index, "the archive did not end", input);
    }

    void Extras() override {
        for (const auto& [archive, expected] : seeds) {
            const Listing read = Read(archive, true, GzipSource::kNoLimit);
            Expect(read.entries == expected.entries && read.end == expected.end, 0,
                   "a valid archive read back differently", archive);
#if defined(ARCHIVE_FUZZ_GZIP)
            // Capped a byte short of its content, a stream ends as limited, not as complete.
            const std::string& whole = expected.entries[0];  // " 0 " and the content
            const Listing capped = Read(archive, true, whole.size() - 4);
            Expect(whole.size() == 3 || (capped.entries[0] == whole.substr(0, whole.size() - 1) &&
                                         capped.end == ByteSource::End::kLimited),
                   0, "a capped stream did not end at its cap as limited", archive);
#endif
        }
        PROCESS_MEMORY_COUNTERS memory{};
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        Expect(memory.PeakPagefileUsage < (256u << 20), 0, "memory grew past 256 MB", "");
    }
};

}  // namespace

int main(int argc, char** argv) {
    return ArchiveFuzz().Main(argc, argv);
}
