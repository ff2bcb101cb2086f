#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace devicescan::tools {

// UTF-8 form of a wide string; nothing when the text is not valid UTF-16 (a lone surrogate).
std::optional<std::string> ToUtf8(std::wstring_view text);

// "error 5 (Access is denied.)": a Win32 code with the system's message, for the console.
std::string DescribeError(DWORD code);

}  // namespace devicescan::tools
