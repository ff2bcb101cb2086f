#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/StringT.h"

namespace qv {

// Hash of a key text: 5381, then h * 33 + c for every UTF-16 code unit up to the terminator,
// wrapping in 64 bits. Cheap, and good enough for the few dozen short paths a map holds.
constexpr std::uint64_t HashKeyText(const wchar_t* text) noexcept {
    std::uint64_t hash = 5381;
    for (; *text != 0; ++text) {
        hash = hash * 33 + static_cast<std::uint16_t>(*text);
    }
    return hash;
}

// Exact, case-sensitive equality of two key texts, code unit by code unit up to and including the
// terminator.
constexpr bool KeyTextsEqual(const wchar_t* a, const wchar_t* b) noexcept {
    for (; *a == *b; ++a, ++b) {
        if (*a == 0) {
            return true;
        }
    }
    return false;
}

// How Map hashes and compares its keys; defined for the key types the SDK uses.
template <typename K>
struct MapKeyHash;
template <typename K>
struct MapKeyEqual;

// A string without buffer counts as the empty text.
template <>
struct MapKeyHash<String> {
    std::size_t operator()(const String& key) const noexcept {
        return HashKeyText(key.GetString());
    }
};

template <>
struct MapKeyEqual<String> {
    bool operator()(const String& a, const String& b) const noexcept {
        return KeyTextsEqual(a.GetString(), b.GetString());
    }
};

}  // namespace qv
