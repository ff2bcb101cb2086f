#include "host/scan/Digest.h"

namespace devicescan::scan {

namespace {

// Each character's value as a hex digit, or -1: one table look-up a character keeps the parse of
// a million digests short.
struct HexTable {
    std::int8_t values[256];

    constexpr HexTable() : values() {
        for (int c = 0; c < 256; ++c) {
            values[c] = c >= '0' && c <= '9'   ? static_cast<std::int8_t>(c - '0')
                        : c >= 'a' && c <= 'f' ? static_cast<std::int8_t>(c - 'a' + 10)
                        : c >= 'A' && c <= 'F' ? static_cast<std::int8_t>(c - 'A' + 10)
                                               : std::int8_t{-1};
        }
    }
};

constexpr HexTable kHexTable;

int HexValue(char c) noexcept {
    return kHexTable.values[static_cast<unsigned char>(c)];
}

}  // namespace

std::string Digest::Hex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(Size() * 2);
    for (std::size_t i = 0; i < Size(); ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0xF];
    }
    return hex;
}

bool Digest::FromHex(std::string_view hex, HashType type, Digest& digest) noexcept {
    const std::size_t size = DigestSize(type);
    if (hex.size() != size * 2) {
        return false;
    }
    Digest parsed;
    parsed.type = type;
    for (std::size_t i = 0; i < size; ++i) {
        const int high = HexValue(hex[2 * i]);
        const int low = HexValue(hex[2 * i + 1]);
        if ((high | low) < 0) {
            return false;
        }
        parsed.bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    digest = parsed;
    return true;
}

}  // namespace devicescan::scan
