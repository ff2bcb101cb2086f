#include "log/RecordText.h"

#include <cstdio>
#include <cwchar>

namespace devicescan::logdll {

RecordText::RecordText(const wchar_t* format, va_list args) {
    // _vsnwprintf is the C runtime's own, which reads %s in a wide format as a wide string; the
    // ISO functions of MinGW would read it as a narrow one.
    va_list measureArgs;
    va_list retryArgs;
    va_copy(measureArgs, args);
    va_copy(retryArgs, args);
    const int written = _vsnwprintf(inlineText, kInlineCapacity - 1, format, args);
    if (written >= 0 && static_cast<std::size_t>(written) < kInlineCapacity - 1) {
        view = std::wstring_view(inlineText, static_cast<std::size_t>(written));
    } else {
        FormatLong(format, measureArgs, retryArgs);
    }
    va_end(retryArgs);
    va_end(measureArgs);
}

// A text too long for the inline array: measured, then formatted on the heap.
void RecordText::FormatLong(const wchar_t* format, va_list measureArgs, va_list formatArgs) {
    const int length = _vscwprintf(format, measureArgs);
    if (length < 0) {
        view = L"(unformattable text)";
        return;
    }
    longText.resize(static_cast<std::size_t>(length) + 1);
    _vsnwprintf(longText.data(), longText.size(), format, formatArgs);
    longText.resize(static_cast<std::size_t>(length));
    view = longText;
}

std::wstring_view ModuleFileName(HMODULE module, wchar_t* buffer, DWORD capacity) {
    const DWORD length = GetModuleFileNameW(module, buffer, capacity);
    if (length == 0 || length >= capacity) {
        return L"?";
    }
    const std::wstring_view path(buffer, length);
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

}  // namespace devicescan::logdll
