#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace devicescan::scan {

// The absolute form of path (GetFullPathNameW), or nothing when the system cannot give it.
inline std::optional<std::wstring> FullPathName(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return std::nullopt;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return std::nullopt;
    }
    full.resize(length);
    return full;
}

}  // namespace devicescan::scan
