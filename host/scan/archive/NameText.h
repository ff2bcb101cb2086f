#pragma once

#include <string>
#include <string_view>

namespace devicescan::scan::archive {

// Names as archives store them, made into UTF-8 for reports.

// Each byte is the code point of the same value (gzip's file names).
std::string FromLatin1(std::string_view bytes);
// The IBM PC code page 437 (zip names written without the UTF-8 flag).
std::string FromCp437(std::string_view bytes);
// UTF-8 as it is, with every byte that is not part of a valid sequence (an overlong form, a
// surrogate, a cut sequence) replaced by U+FFFD.
std::string ValidUtf8(std::string_view bytes);

}  // namespace devicescan::scan::archive
