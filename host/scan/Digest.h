#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/scan/HashType.h"

namespace devicescan::scan {

// The binary value of one hash of one type; only the first DigestSize(type) bytes count.
struct Digest {
    HashType type = HashType::kSha256;
    std::array<std::uint8_t, kMaxDigestSize> bytes{};

    std::size_t Size() const noexcept { return DigestSize(type); }
    // Lower-case hex of the significant bytes.
    std::string Hex() const;
    // The digest written as hex (either case) of exactly 2 * DigestSize(type) characters;
    // false when the text is not that.
    static bool FromHex(std::string_view hex, HashType type, Digest& digest) noexcept;
};

}  // namespace devicescan::scan
