#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Conversions between the wide strings of Windows and UTF-8 text, for pipes, files and settings.

// The UTF-8 form of text. Strict: nothing when text is not valid UTF-16 (an unpaired
// surrogate). Otherwise unpaired surrogates become U+FFFD.
inline std::optional<std::string> ToUtf8(std::wstring_view text, bool strict) {
    if (text.empty()) {
        return std::string();
    }
    const DWORD flags = strict ? WC_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::nullopt;
    }
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, flags, text.data(), size, result.data(), bytes, nullptr, nullptr);
    return result;
}

inline std::string ToUtf8(std::wstring_view text) {
    return ToUtf8(text, false).value_or(std::string());
}

// Invalid bytes become U+FFFD.
inline std::wstring FromUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), chars);
    return result;
}

}  // namespace qv
