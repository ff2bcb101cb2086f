#pragma once

#include <cstddef>
#include <cwchar>

#include <string.h>

namespace qv {

// Character operations of the string, done by the C runtime.
template <typename CharT>
struct ChTraitsCRT;

template <>
struct ChTraitsCRT<wchar_t> {
    static std::size_t Length(const wchar_t* text) { return text ? std::wcslen(text) : 0; }
    static std::size_t LengthWithin(const wchar_t* text, std::size_t limit) {
        return wcsnlen(text, limit);
    }
    static int CompareNoCase(const wchar_t* a, const wchar_t* b) { return _wcsicmp(a, b); }
    static int CompareNoCase(const wchar_t* a, const wchar_t* b, std::size_t count) {
        return _wcsnicmp(a, b, count);
    }
};

}  // namespace qv
