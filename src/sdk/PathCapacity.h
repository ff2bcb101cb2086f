#pragma once

#include <windows.h>

namespace qv {

// The longest path Windows accepts, in characters (with the \\?\ prefix).
inline constexpr DWORD kPathCapacity = 32767;

}  // namespace qv
