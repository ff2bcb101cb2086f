#include "scan/Digest.h"

namespace devicescan::scan {

namespace {

int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
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
        if (high < 0 || low < 0) {
            return false;
        }
        parsed.bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    digest = parsed;
    return true;
}

}  // namespace devicescan::scan
