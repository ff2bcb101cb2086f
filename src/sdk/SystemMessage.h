#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// The system's text for a Win32 code, without the trailing line break; empty when it has none.
inline std::wstring SystemText(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    std::wstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return text;
}

// "1168 (Element not found.)": a Win32 code with the system's text for it; the code alone when
// the system has no text. A "%1" in the text (as in "%1 is not a valid Win32 application.")
// becomes subject when one is given.
inline std::wstring DescribeError(std::uint32_t code, std::wstring_view subject = {}) {
    std::wstring text = std::to_wstring(code);
    std::wstring message = SystemText(code);
    const std::size_t insert = message.find(L"%1");
    if (insert != std::wstring::npos && !subject.empty()) {
        message.replace(insert, 2, subject);
    }
    if (!message.empty()) {
        text += L" (" + message + L")";
    }
    return text;
}

}  // namespace qv
