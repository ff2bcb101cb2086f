#pragma once

#include <cstddef>
#include <cstdint>

namespace devicescan::scan {

// The digests a signature can name. The values index per-type tables and are bits of a
// HashTypeMask.
enum class HashType : std::uint8_t { kMd5 = 0, kSha1 = 1, kSha256 = 2 };

constexpr std::size_t kHashTypeCount = 3;
constexpr std::size_t kMaxDigestSize = 32;

// A set of hash types: bit (1 << type).
using HashTypeMask = std::uint8_t;

constexpr HashTypeMask MaskOf(HashType type) noexcept {
    return static_cast<HashTypeMask>(1u << static_cast<unsigned>(type));
}

constexpr std::size_t DigestSize(HashType type) noexcept {
    switch (type) {
        case HashType::kMd5:
            return 16;
        case HashType::kSha1:
            return 20;
        case HashType::kSha256:
            return 32;
    }
    return 0;
}

// "md5", "sha1", "sha256": the names the output uses.
constexpr const char* HashTypeName(HashType type) noexcept {
    switch (type) {
        case HashType::kMd5:
            return "md5";
        case HashType::kSha1:
            return "sha1";
        case HashType::kSha256:
            return "sha256";
    }
    return "unknown";
}

}  // namespace devicescan::scan
