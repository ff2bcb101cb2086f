#include "host/scan/EicarCheck.h"

#include <algorithm>
#include <cstring>

namespace devicescan::scan {

namespace {

// The text in pieces: no piece, and no byte run of this file or of the binaries, holds it whole.
constexpr const char* kPieces[] = {
    "X5O!P%@AP[4\\PZX54(P^)7CC)7}$", "EICAR-STANDARD-", "ANTIVIRUS", "-TEST", "-FILE!$H+H*",
};

bool IsWhiteSpace(std::uint8_t byte) noexcept {
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == '\f' ||
           byte == '\v';
}

}  // namespace

std::string EicarCheck::Text() {
    std::string text;
    text.reserve(kTextSize);
    for (const char* piece : kPieces) {
        text += piece;
    }
    return text;
}

bool EicarCheck::Matches(std::span<const std::uint8_t> content) {
    if (!SizeFits(content.size())) {
        return false;
    }
    // Assembled per call: a call per small file is cheap next to opening it.
    const std::string text = Text();
    if (std::memcmp(content.data(), text.data(), kTextSize) != 0) {
        return false;
    }
    return std::all_of(content.begin() + kTextSize, content.end(), IsWhiteSpace);
}

}  // namespace devicescan::scan
