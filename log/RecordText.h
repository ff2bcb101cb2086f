#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>
#include <string_view>

namespace devicescan::logdll {

// The text of a record: its format applied to its arguments with the wide printf rules of the
// Windows C runtime (%s is a wide string). On the stack, unless the text is long.
class RecordText {
  public:
    RecordText(const wchar_t* format, va_list args);
    RecordText(const RecordText&) = delete;
    RecordText& operator=(const RecordText&) = delete;

    std::wstring_view View() const { return view; }

  private:
    static constexpr std::size_t kInlineCapacity = 1024;

    void FormatLong(const wchar_t* format, va_list measureArgs, va_list formatArgs);

    wchar_t inlineText[kInlineCapacity];
    std::wstring longText;
    std::wstring_view view;
};

// The file name (without directory) of module, into buffer; "?" when it cannot be told.
std::wstring_view ModuleFileName(HMODULE module, wchar_t* buffer, DWORD capacity);

}  // namespace devicescan::logdll
