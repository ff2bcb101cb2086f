#include "host/scan/archive/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <string_view>

#include "host/scan/archive/NameText.h"

namespace devicescan::scan::archive {

namespace {

using End = ByteSource::End;

constexpr std::uint32_t kLocalHeader = 0x04034B50;
constexpr std::uint32_t kCentralHeader = 0x02014B50;
constexpr std::uint32_t kEndOfCentral = 0x06054B50;
constexpr std::uint32_t kZip64EndOfCentral = 0x06064B50;
constexpr std::uint32_t kDescriptor = 0x08074B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::uint16_t kEncrypted = 1 << 0;
constexpr std::uint16_t kHasDescriptor = 1 << 3;
constexpr std::uint16_t kUtf8Names = 1 << 11;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint32_t kSizeInZip64 = 0xFFFFFFFF;

std::uint64_t Le(const std::uint8_t* bytes, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

bool IsSignature(std::uint64_t value) {
    return value == kLocalHeader || value == kCentralHeader || value == kEndOfCentral ||
           value == kZip64EndOfCentral;
}

std::uint64_t Low(std::uint64_t value, int width) {
    return width == 8 ? value : value & 0xFFFFFFFFu;
}

bool ReadExactly(BufferedInput& input, std::size_t size, std::string& into) {
    into.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const std::size_t read =
            input.Read(reinterpret_cast<std::uint8_t*>(into.data()) + got, size - got);
        if (read == 0) {
            return false;
        }
        got += read;
    }
    return true;
}

}  // namespace

// The data of the current member: inflated or copied, checked at its end against the header or
// the descriptor that follows it, which it reads.
class ZipReader::EntryData final : public ByteSource {
  public:
    explicit EntryData(BufferedInput& input) : input(input) {
        ready = inflateInit2(&stream, -15) == Z_OK;
    }
    ~EntryData() override {
        if (ready) {
            inflateEnd(&stream);
        }
    }

    void Begin(const ZipEntry& entry, std::uint32_t crc, bool descriptor, bool zip64) {
        Reopen();
        this->entry = entry;
        expectedCrc = crc;
        this->descriptor = descriptor;
        this->zip64 = zip64;
        actualCrc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
        produced = consumed = 0;
        streamEnded = positioned = false;
        if (ready && entry.method == 8) {
            inflateReset(&stream);
        }
        if (!ready || !entry.IsReadable() || (entry.method == 0 && !entry.sizeKnown)) {
            Stop(End::kDamaged);  // nothing to read, or no way to tell where it ends
        }
    }
    // Whether the input is now just past this member's data (and descriptor).
    bool Positioned() const noexcept { return positioned; }
    std::uint64_t Consumed() const noexcept { return consumed; }

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override {
        const std::size_t got =
            entry.method == 0 ? ReadStored(buffer, size) : Inflate(buffer, size);
        if (got != 0) {
            actualCrc =
                static_cast<std::uint32_t>(crc32(actualCrc, buffer, static_cast<uInt>(got)));
            produced += got;
        }
        return got;
    }

    std::size_t ReadStored(std::uint8_t* buffer, std::size_t size) {
        if (entry.size != entry.compressedSize) {
            return Stop(End::kDamaged);
        }
        if (consumed == entry.compressedSize) {
            return Complete();
        }
        const std::size_t got = input.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(
                                                       size, entry.compressedSize - consumed)));
        consumed += got;
        return got != 0 ? got : StopAs(input.Below(), true);
    }

    std::size_t Inflate(std::uint8_t* buffer, std::size_t size) {
        std::uint8_t probe;
        for (;;) {
            if (streamEnded) {
                return Complete();
            }
            // At the declared size the stream must end: one byte more is a lying header.
            const bool probing = entry.sizeKnown && produced == entry.size;
            std::uint8_t* out = probing ? &probe : buffer;
            const std::size_t room =
                probing ? 1
                : entry.sizeKnown
                    ? static_cast<std::size_t>(std::min<std::uint64_t>(size, entry.size - produced))
                    : size;
            if (input.Available() == 0 && input.Fill(1) == 0) {
                return StopAs(input.Below(), true);
            }
            std::uint64_t available = input.Available();
            if (entry.sizeKnown) {
                available = std::min(available, entry.compressedSize - consumed);
            }
            if (available == 0) {
                return Stop(End::kDamaged);  // the compressed size is used up, the stream is not
            }
            stream.next_in = const_cast<Bytef*>(input.Data());
            stream.avail_in = static_cast<uInt>(available);
            stream.next_out = out;
            stream.avail_out = static_cast<uInt>(std::min<std::size_t>(room, 1u << 30));
            const int status = inflate(&stream, Z_NO_FLUSH);
            const std::size_t used = static_cast<std::size_t>(available - stream.avail_in);
            input.Consume(used);
            consumed += used;
            const std::size_t got = static_cast<std::size_t>(stream.next_out - out);
            if (status == Z_STREAM_END) {
                streamEnded = true;
            } else if (status != Z_OK) {
                return got != 0 && !probing ? got : Stop(End::kDamaged);
            }
            if (got != 0) {
                return probing ? Stop(End::kDamaged) : got;
            }
        }
    }

    // At the end of the data: reads the descriptor, then checks the sizes and the CRC.
    std::size_t Complete() {
        if (descriptor && !ReadDescriptor()) {
            return Stop(End::kDamaged);
        }
        positioned = true;
        const bool whole =
            !entry.sizeKnown || (produced == entry.size && consumed == entry.compressedSize);
        return whole && actualCrc == expectedCrc ? 0 : Stop(End::kDamaged);
    }

    // The descriptor's layout is told by its values: the sizes must be those just read. Where
    // two layouts fit (small sizes leave the high half of a 64-bit field zero), the one followed
    // by a header's signature is taken.
    bool ReadDescriptor() {
        struct Layout {
            bool signature;
            int width;
        };
        const Layout wide[] = {{true, 8}, {false, 8}, {true, 4}, {false, 4}};
        const Layout narrow[] = {{true, 4}, {false, 4}, {true, 8}, {false, 8}};
        input.Fill(28);
        const std::uint8_t* bytes = input.Data();
        const Layout* chosen = nullptr;
        for (const Layout& layout : zip64 ? wide : narrow) {
            const std::size_t length = LengthOf(layout.signature, layout.width);
            const std::size_t at = layout.signature ? 4 : 0;
            if (input.Available() < length || (layout.signature && Le(bytes, 4) != kDescriptor) ||
                Le(bytes + at + 4, layout.width) != Low(consumed, layout.width) ||
                Le(bytes + at + 4 + layout.width, layout.width) != Low(produced, layout.width)) {
                continue;
            }
            chosen = chosen != nullptr ? chosen : &layout;
            if (input.Available() >= length + 4 && IsSignature(Le(bytes + length, 4))) {
                chosen = &layout;
                break;
            }
        }
        if (chosen == nullptr) {
            return false;
        }
        expectedCrc = static_cast<std::uint32_t>(Le(bytes + (chosen->signature ? 4 : 0), 4));
        input.Consume(LengthOf(chosen->signature, chosen->width));
        return true;
    }

    static std::size_t LengthOf(bool signature, int width) {
        return (signature ? 4 : 0) + 4 + 2 * static_cast<std::size_t>(width);
    }

    BufferedInput& input;
    z_stream stream{};
    bool ready = false;
    ZipEntry entry;
    std::uint32_t expectedCrc = 0;
    std::uint32_t actualCrc = 0;
    bool descriptor = false;
    bool zip64 = false;
    std::uint64_t produced = 0;
    std::uint64_t consumed = 0;
    bool streamEnded = false;
    bool positioned = false;
};

bool ZipReader::StartsZip(const std::uint8_t* bytes, std::size_t size) noexcept {
    return size >= 4 && Le(bytes, 4) == kLocalHeader;
}

ZipReader::ZipReader(ByteSource& input)
    : input(input), data(std::make_unique<EntryData>(this->input)) {}

ZipReader::~ZipReader() = default;

ByteSource& ZipReader::Data() noexcept {
    return *data;
}

bool ZipReader::Next(ZipEntry& entry) {
    if (end != End::kNotYet || (inEntry && !PassOverData())) {
        return false;
    }
    inEntry = false;
    if (!ReadHeader(entry)) {
        return false;
    }
    inEntry = true;
    return true;
}

bool ZipReader::PassOverData() {
    if (data->Positioned()) {
        return true;
    }
    if (current.sizeKnown) {
        const std::uint64_t left =
            current.compressedSize - std::min(current.compressedSize, data->Consumed());
        if (input.Skip(left) == left) {
            return true;
        }
        return Finish(input.Below().Ended() == End::kFinished ? End::kDamaged
                                                              : input.Below().Ended());
    }
    // Only the end of the deflate stream tells where the descriptor is.
    std::uint8_t scratch[16384];
    while (data->Read(scratch, sizeof scratch) != 0) {
    }
    if (data->Positioned()) {
        return true;
    }
    const End below = input.Below().Ended();
    return Finish(below == End::kNotYet || below == End::kFinished ? End::kDamaged : below);
}

bool ZipReader::ReadHeader(ZipEntry& entry) {
    if (input.Fill(kLocalHeaderSize) < 4) {
        // No central directory: the archive was cut after a member.
        return Finish(input.Below().Ended() == End::kFinished ? End::kDamaged
                                                              : input.Below().Ended());
    }
    const std::uint8_t* header = input.Data();
    const std::uint64_t signature = Le(header, 4);
    if (signature == kCentralHeader || signature == kEndOfCentral ||
        signature == kZip64EndOfCentral) {
        return Finish(End::kFinished);
    }
    if (signature != kLocalHeader || input.Available() < kLocalHeaderSize) {
        return Finish(End::kDamaged);
    }
    const auto flags = static_cast<std::uint16_t>(Le(header + 6, 2));
    const auto method = static_cast<std::uint16_t>(Le(header + 8, 2));
    const auto crc = static_cast<std::uint32_t>(Le(header + 14, 4));
    std::uint64_t compressedSize = Le(header + 18, 4);
    std::uint64_t size = Le(header + 22, 4);
    const std::size_t nameLength = Le(header + 26, 2);
    const std::size_t extraLength = Le(header + 28, 2);
    input.Consume(kLocalHeaderSize);
    std::string name;
    std::string extra;
    if (!ReadExactly(input, nameLength, name) || !ReadExactly(input, extraLength, extra)) {
        return Finish(End::kDamaged);
    }
    bool zip64 = false;
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const auto* field = reinterpret_cast<const std::uint8_t*>(extra.data()) + at;
        const std::size_t length = Le(field + 2, 2);
        if (at + 4 + length > extra.size()) {
            break;
        }
        if (Le(field, 2) == kZip64Extra) {
            zip64 = true;
            std::size_t next = 4;
            for (std::uint64_t* value : {&size, &compressedSize}) {
                if (*value == kSizeInZip64 && next + 8 <= 4 + length) {
                    *value = Le(field + next, 8);
                    next += 8;
                }
            }
        }
        at += 4 + length;
    }
    entry.name = flags & kUtf8Names ? ValidUtf8(name) : FromCp437(name);
    entry.directory = !name.empty() && (name.back() == '/' || name.back() == '\\');
    entry.encrypted = (flags & kEncrypted) != 0;
    entry.method = method;
    entry.sizeKnown = (flags & kHasDescriptor) == 0;
    entry.size = entry.sizeKnown ? size : 0;
    entry.compressedSize = entry.sizeKnown ? compressedSize : 0;
    current = entry;
    data->Begin(entry, crc, (flags & kHasDescriptor) != 0, zip64);
    return true;
}

}  // namespace devicescan::scan::archive
