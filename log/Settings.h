#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logging/LogApi.h"

namespace devicescan::logdll {

// What the library does; every field starts at its default.
struct Settings {
    bool enabled = true;
    std::wstring path;  // the log file as written in the settings; empty: the default file
    std::uint32_t level = LOG_SEVERITY_INFO;
    std::uint64_t maxSize = 10 * 1024 * 1024;  // rotate before the file grows beyond; 0: never
    std::uint32_t backups = 3;                 // rotated files kept: name.log.1 ... name.log.N
    std::uint32_t type = LOG_TYPE_FILE;
    std::uint32_t mode = LOG_MODE_FLUSH_EACH_LINE;
    std::uint32_t depth = 0;  // deepest trace level written; 0: all
    bool monitor = false;
};

inline constexpr std::uint64_t kMinimumMaxSize = 1024;
inline constexpr std::uint32_t kMaximumBackups = 100;
inline constexpr std::uint32_t kMaximumDepth = 1000;
inline constexpr std::size_t kMaximumSettingsFileBytes = 64 * 1024;

// Reads "key = value" lines. Each line that is not a setting, each unknown key and each bad
// value is described in problems and leaves that setting at its default.
Settings ParseSettings(std::wstring_view text, std::vector<std::wstring>& problems);

// The text of a settings file: UTF-16 when it starts with its byte-order mark, else UTF-8 (with
// or without the mark); undecodable bytes become U+FFFD.
std::wstring DecodeSettingsText(std::string_view bytes);

}  // namespace devicescan::logdll
