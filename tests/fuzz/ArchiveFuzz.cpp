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
    bool operator==(const Listing& other) const {
        return entries == other.entries && end == other.end;
    }
};

class ArchiveFuzz : public devicescan::fuzz::Fuzzer {
  private:
    // Reads source to its end in blocks of a random size, keeping at most a megabyte.
    std::string Drain(ByteSource& source, std::uint64_t bound, bool& overran) {
        std::string data(1 + random.Below(1 << 16), '\0');
        std::string kept;
        std::uint64_t total = 0;
        while (const std::size_t got =
                   source.Read(reinterpret_cast<std::uint8_t*>(data.data()), data.size())) {
            kept.append(data.data(), kept.size() < (1 << 20) ? got : 0);
            overran |= (total += got) > bound;
            if (overran) {
                break;
            }
        }
        return kept;
    }

    Listing Read(const std::string& input, bool readAll) {
        MemorySource source({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
        Listing listing;
        const auto add = [&](const std::string& name, std::uint64_t size, ByteSource* data,
                             std::uint64_t bound) {
            const bool read = data != nullptr && (readAll || random.OneIn(2));
            listing.entries.push_back(name + " " + std::to_string(size) + " " +
                                      (read ? Drain(*data, bound, listing.overran) : "-"));
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
        const std::uint64_t cap =
            readAll || random.OneIn(2) ? GzipSource::kNoLimit : random.Below(6000);
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
            ZipItem item{.name = "m" + std::to_string(i),
                         .content = Content(),
                         .deflate = !random.OneIn(3),
                         .zip64 = random.OneIn(4),
                         .utf8 = random.OneIn(2)};
            item.descriptor = item.deflate ? random.Pick<D>({D::kNone, D::kSigned, D::kUnsigned,
                                                             D::kSigned64, D::kUnsigned64})
                                           : D::kNone;
            item.encrypted = item.descriptor == D::kNone && random.OneIn(8);
            listing.entries.push_back(
                item.name + " " +
                std::to_string(item.descriptor == D::kNone ? item.content.size() : 0) + " " +
                (item.encrypted ? "-" : item.content));
            items.push_back(item);
        }
        return {ZipOf(items), listing};
#elif defined(ARCHIVE_FUZZ_TAR)
        std::vector<TarItem> items;
        for (std::size_t i = 0; i < count; ++i) {
            items.push_back({std::string(random.OneIn(3) ? 90 + random.Below(60) : 1, 'p') + "/" +
                                 std::to_string(i),
                             Content()});
            listing.entries.push_back(items.back().name + " " +
                                      std::to_string(items.back().content.size()) + " " +
                                      items.back().content);
        }
        return {TarOf(items, random.Pick<TarFormat>(
                                 {TarFormat::kUstar, TarFormat::kPax, TarFormat::kGnu})),
                listing};
#else
        std::vector<GzipMember> members;
        std::string content;
        for (std::size_t i = 0; i < count; ++i) {
            members.push_back({Content(), random.OneIn(2) ? "name" : ""});
            content += members.back().content;
        }
        listing.entries.push_back(" 0 " + content);
        return {GzipOf(members) + std::string(random.OneIn(4) ? random.Below(600) : 0, '\0'),
                listing};
#endif
    }

    std::vector<std::pair<std::string, Listing>> seeds;

    // A fault or four planted in a valid archive.
    std::string Mutate(std::string bytes) {
        for (std::size_t faults = 1 + random.Below(4); faults > 0 && !bytes.empty(); --faults) {
            const std::size_t at = random.Below(bytes.size());
            const std::size_t length =
                1 + random.Below(std::min<std::size_t>(64, bytes.size() - at));
            const std::string extreme =
                random.Pick<std::string>({std::string(4, '\xFF'), std::string(4, '\0'),
                                          "\x7F\xFF\xFF\xFF", "PK\x03\x04", "PK\x07\x08"});
            switch (random.Below(6)) {
                case 0:
                    bytes[at] = static_cast<char>(bytes[at] ^ (1 << random.Below(8)));
                    break;
                case 1:
                    bytes.replace(at, std::min<std::size_t>(4, bytes.size() - at), extreme);
                    break;
                case 2:
                    bytes.erase(at, length);
                    break;
                case 3:
                    bytes.insert(at, bytes.substr(at, length));
                    break;
                case 4:
                    bytes.resize(at);
                    break;
                default:
                    bytes.insert(at, random.Bytes(length));
                    break;
            }
        }
        return bytes;
    }

    void Input(std::size_t index) override {
        if (seeds.empty()) {
            for (int i = 0; i < 200; ++i) {
                seeds.push_back(Seed());
            }
        }
        const std::string input = Mutate(seeds[random.Below(seeds.size())].first);
        const Listing listing = Read(input, false);
        Expect(!listing.overran, index, "an entry gave more than it may, or too many came", input);
        Expect(listing.end != ByteSource::End::kNotYet, index, "the archive did not end", input);
    }

    void Extras() override {
        for (const auto& [archive, expected] : seeds) {
            Expect(Read(archive, true) == expected, 0, "a valid archive read back differently",
                   archive);
#if defined(ARCHIVE_FUZZ_GZIP)
            // Capped a byte short of its content, a stream ends as limited, not as complete.
            const std::size_t size = expected.entries[0].size() - 3;
            MemorySource source(
                {reinterpret_cast<const std::uint8_t*>(archive.data()), archive.size()});
            GzipSource capped(source, size - std::min<std::size_t>(size, 1));
            bool overran = false;
            const std::string content = Drain(capped, size, overran);
            Expect(size == 0 ||
                       (content.size() == size - 1 && capped.Ended() == ByteSource::End::kLimited),
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
