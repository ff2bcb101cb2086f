#include "tools/Text.h"

namespace devicescan::tools {

std::optional<std::string> ToUtf8(std::wstring_view text) {
    if (text.empty()) {
        return std::string();
    }
    const int wideLength = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), wideLength,
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string converted(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), wideLength, converted.data(),
                        length, nullptr, nullptr);
    return converted;
}

std::string DescribeError(DWORD code) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring_view text(message, length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.remove_suffix(1);
    }
    std::string described = "error " + std::to_string(code);
    if (!text.empty()) {
        described += " (" + ToUtf8(text).value_or("?") + ")";
    }
    LocalFree(message);
    return described;
}

}  // namespace devicescan::tools
