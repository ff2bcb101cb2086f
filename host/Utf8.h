#pragma once

#include <string>
#include <string_view>

namespace host {

// Conversions between the wide strings of Windows and the UTF-8 text the host writes to pipes
// and files. Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace host
