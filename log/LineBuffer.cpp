#include "log/LineBuffer.h"

#include <cstring>

namespace devicescan::logdll {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One code point from text at index (advanced past it).
char32_t NextCodePoint(std::wstring_view text, std::size_t& index) {
    const char32_t unit = static_cast<char16_t>(text[index++]);
    if (unit < 0xD800 || unit > 0xDFFF) {
        return unit;
    }
    if (unit > 0xDBFF || index == text.size()) {
        return kReplacement;
    }
    const char32_t low = static_cast<char16_t>(text[index]);
    if (low < 0xDC00 || low > 0xDFFF) {
        return kReplacement;
    }
    ++index;
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
}

std::size_t EncodeUtf8(char32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

}  // namespace

void LineBuffer::Append(std::string_view bytes) {
    if (!onHeap && size + bytes.size() <= kInlineCapacity) {
        std::memcpy(inlineBytes + size, bytes.data(), bytes.size());
        size += bytes.size();
        return;
    }
    if (!onHeap) {
        heap.reserve(2 * (size + bytes.size()));
        heap.assign(inlineBytes, size);
        onHeap = true;
    }
    heap.append(bytes);
}

void LineBuffer::AppendUtf8(std::wstring_view text) {
    char chunk[256];
    std::size_t used = 0;
    for (std::size_t index = 0; index < text.size();) {
        char32_t c = NextCodePoint(text, index);
        if (c == U'\r' || c == U'\n') {
            c = U' ';
        }
        used += EncodeUtf8(c, chunk + used);
        if (used > sizeof(chunk) - 4) {
            Append(std::string_view(chunk, used));
            used = 0;
        }
    }
    Append(std::string_view(chunk, used));
}

}  // namespace devicescan::logdll
