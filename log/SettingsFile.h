#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "log/Settings.h"

namespace devicescan::logdll {

// When a settings file was last written and how long it is; all zero for a missing file.
struct SettingsFileStamp {
    FILETIME lastWrite{};
    std::uint64_t size = 0;

    bool operator==(const SettingsFileStamp& other) const noexcept {
        return lastWrite.dwLowDateTime == other.lastWrite.dwLowDateTime &&
               lastWrite.dwHighDateTime == other.lastWrite.dwHighDateTime && size == other.size;
    }
};

SettingsFileStamp StampOf(const std::wstring& path) noexcept;

// The settings a file gives. A missing file gives the defaults silently; a file that cannot be
// read, or is larger than any sensible settings file, gives the defaults and a problem; bad lines
// give problems (see ParseSettings). found tells whether the file exists.
Settings ReadSettingsFile(const std::wstring& path, std::vector<std::wstring>& problems,
                          bool& found);

}  // namespace devicescan::logdll
