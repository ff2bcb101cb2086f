#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace devicescan::host {

// "1168 (Element not found.)": a Win32 code with the system's text for it, without the trailing
// line break; the code alone when the system has no text. A "%1" in the text (as in "%1 is not a
// valid Win32 application.") becomes subject when one is given.
std::wstring DescribeError(std::uint32_t code, std::wstring_view subject = {});

}  // namespace devicescan::host
