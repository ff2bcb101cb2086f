#include "host/scan/archive/TarReader.h"
#include "host/scan/archive/DecimalText.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace devicescan::scan::archive {

namespace {

using End = ByteSource::End;

// Field offsets and lengths of a header block.
constexpr std::size_t kNameAt = 0, kNameLength = 100;
constexpr std::size_t kSizeAt = 124, kSizeLength = 12;
constexpr std::size_t kChecksumAt = 148, kChecksumLength = 8;
constexpr std::size_t kTypeAt = 156;
constexpr std::size_t kMagicAt = 257;
constexpr std::size_t kPrefixAt = 345, kPrefixLength = 155;

// Extended headers and long names larger than this are taken for damage: names and the few
// keys read are short, and the reader holds them whole.
constexpr std::uint64_t kMaxMetadata = 1 << 20;

std::string_view Field(const std::uint8_t* block, std::size_t at, std::size_t length) {
    const char* text = reinterpret_cast<const char*>(block + at);
    return std::string_view(text, strnlen(text, length));
}

// An octal number, as tar writes numbers: leading blanks, digits, then NULs or blanks to the
// end of the field. False when the field holds anything else or no digit.
bool ParseOctal(std::string_view field, std::uint64_t& value) {
    std::size_t at = field.find_first_not_of(' ');
    if (at == std::string_view::npos) {
        return false;
    }
    value = 0;
    std::size_t digits = 0;
    for (; at < field.size() && field[at] >= '0' && field[at] <= '7'; ++at, ++digits) {
        if (value >> 61 != 0) {
            return false;
        }
        value = value * 8 + static_cast<std::uint64_t>(field[at] - '0');
    }
    return digits > 0 &&
           field.find_first_not_of(std::string_view(" \0", 2), at) == std::string_view::npos;
}

// The size field: octal, or GNU's base-256 (high bit of the first byte set, positive only).
bool ParseSize(const std::uint8_t* block, std::uint64_t& size) {
    const std::uint8_t* field = block + kSizeAt;
    if (field[0] == 0x80) {
        size = 0;
        for (std::size_t i = 1; i < kSizeLength; ++i) {
            if (size >> 56 != 0) {
                return false;
            }
            size = (size << 8) | field[i];
        }
        return true;
    }
    return ParseOctal(std::string_view(reinterpret_cast<const char*>(field), kSizeLength), size);
}

TarEntry::Kind KindOf(char type) {
    switch (type) {
        case '0':
        case '\0':
        case '7':
            return TarEntry::Kind::kFile;
        case '5':
            return TarEntry::Kind::kDirectory;
        case '1':
        case '2':
            return TarEntry::Kind::kLink;
        default:
            return TarEntry::Kind::kOther;
    }
}

bool IsZeroBlock(const std::uint8_t* block) {
    return std::all_of(block, block + TarReader::kBlockSize, [](std::uint8_t b) { return b == 0; });
}

std::uint64_t PaddingAfter(std::uint64_t size) {
    return (TarReader::kBlockSize - size % TarReader::kBlockSize) % TarReader::kBlockSize;
}

}  // namespace

bool TarReader::IsHeader(std::span<const std::uint8_t> block) noexcept {
    if (block.size() < kBlockSize) {
        return false;
    }
    std::uint64_t recorded = 0;
    if (!ParseOctal(Field(block.data(), kChecksumAt, kChecksumLength), recorded)) {
        return false;
    }
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        sum += i >= kChecksumAt && i < kChecksumAt + kChecksumLength ? ' ' : block[i];
    }
    return sum == recorded;
}

std::size_t TarReader::EntryData::ReadSome(std::uint8_t* buffer, std::size_t size) {
    if (remaining == 0) {
        return 0;
    }
    const std::size_t got = reader.input.Read(
        buffer, static_cast<std::size_t>(std::min<std::uint64_t>(size, remaining)));
    if (got == 0) {
        return StopAs(reader.input.Below(), true);
    }
    remaining -= got;
    return got;
}

bool TarReader::Next(TarEntry& entry) {
    if (end != End::kNotYet || !SkipData(data.Remaining() + padding)) {
        return false;
    }
    data.Begin(0);
    padding = 0;
    std::uint8_t block[kBlockSize];
    for (;;) {
        if (!ReadHeader(block)) {
            return false;
        }
        std::uint64_t size = 0;
        if (!ParseSize(block, size)) {
            return Finish(End::kDamaged);
        }
        const char type = static_cast<char>(block[kTypeAt]);
        std::string text;
        switch (type) {
            case 'x':
                if (!ReadMetadata(size, text) || !ParsePax(text)) {
                    return Finish(End::kDamaged);
                }
                continue;
            case 'L':
                if (!ReadMetadata(size, text)) {
                    return Finish(End::kDamaged);
                }
                longName.assign(text.c_str());  // up to its terminating NUL
                continue;
            case 'g':
            case 'K':
                if (!SkipData(size + PaddingAfter(size))) {
                    return false;
                }
                continue;
            default:
                break;
        }
        entry.kind = KindOf(type);
        entry.size = hasPaxSize ? paxSize : size;
        if (!paxPath.empty()) {
            entry.name = paxPath;
        } else if (!longName.empty()) {
            entry.name = longName;
        } else {
            const std::string_view prefix = Field(block, kPrefixAt, kPrefixLength);
            const bool ustar = std::memcmp(block + kMagicAt, "ustar", 5) == 0;
            entry.name = ustar && !prefix.empty() ? std::string(prefix) + "/" : std::string();
            entry.name += Field(block, kNameAt, kNameLength);
        }
        paxPath.clear();
        longName.clear();
        hasPaxSize = false;
        data.Begin(entry.size);
        padding = PaddingAfter(entry.size);
        return true;
    }
}

bool TarReader::ReadHeader(std::uint8_t* block) {
    const std::size_t got = input.Fill(kBlockSize);
    if (got == 0) {
        // A source that ends on a block boundary without the end-of-archive blocks: tolerated.
        return Finish(input.Below().Ended() == End::kFinished ? End::kFinished
                                                              : input.Below().Ended());
    }
    if (got < kBlockSize) {
        return Finish(input.Below().Ended() == End::kFinished ? End::kDamaged
                                                              : input.Below().Ended());
    }
    std::memcpy(block, input.Data(), kBlockSize);
    input.Consume(kBlockSize);
    if (IsZeroBlock(block)) {
        return Finish(End::kFinished);
    }
    return IsHeader({block, kBlockSize}) || Finish(End::kDamaged);
}

bool TarReader::ReadMetadata(std::uint64_t size, std::string& text) {
    if (size > kMaxMetadata) {
        return false;
    }
    text.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < text.size()) {
        const std::size_t read =
            input.Read(reinterpret_cast<std::uint8_t*>(text.data()) + got, text.size() - got);
        if (read == 0) {
            return false;
        }
        got += read;
    }
    return input.Skip(PaddingAfter(size)) == PaddingAfter(size);
}

// Records of "LENGTH KEY=VALUE\n", LENGTH counting the whole record.
bool TarReader::ParsePax(const std::string& records) {
    std::string_view rest = records;
    while (!rest.empty()) {
        const std::size_t space = rest.find(' ');
        std::uint64_t length = 0;
        if (space == std::string_view::npos || !ParseDecimal(rest.substr(0, space), length) ||
            length <= space + 1 || length > rest.size() || rest[length - 1] != '\n') {
            return false;
        }
        const std::string_view record = rest.substr(space + 1, length - space - 2);
        rest.remove_prefix(length);
        const std::size_t equals = record.find('=');
        if (equals == std::string_view::npos) {
            return false;
        }
        const std::string_view key = record.substr(0, equals);
        const std::string_view value = record.substr(equals + 1);
        if (key == "path") {
            paxPath = value;
        } else if (key == "size") {
            if (!ParseDecimal(value, paxSize)) {
                return false;
            }
            hasPaxSize = true;
        }
    }
    return true;
}

bool TarReader::SkipData(std::uint64_t size) {
    if (input.Skip(size) == size) {
        return true;
    }
    return Finish(input.Below().Ended() == End::kFinished ? End::kDamaged : input.Below().Ended());
}

}  // namespace devicescan::scan::archive
