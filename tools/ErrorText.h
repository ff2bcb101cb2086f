#pragma once

#include <windows.h>

#include <string>

#include "sdk/SystemMessage.h"
#include "sdk/Utf8.h"

namespace devicescan::tools {

// "error 5 (Access is denied.)": a Win32 code with the system's message, for the console.
inline std::string DescribeError(DWORD code) {
    return "error " + qv::ToUtf8(qv::DescribeError(code));
}

}  // namespace devicescan::tools
