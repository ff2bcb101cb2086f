#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "log/LineBuffer.h"

namespace devicescan::logdll {

// Everything one line shows.
struct LineFields {
    SYSTEMTIME localTime;
    DWORD threadId;
    std::uint32_t severity;
    std::wstring_view module;    // file name of the writing module
    std::wstring_view function;  // may be empty
    std::uint32_t indent;        // the thread's trace level
    std::wstring_view text;
};

// Appends one line, ending in CR LF:
//   2024-05-01 12:34:56.789  1234 INFO    devicescan.dll DeviceScanSP::Init: -> Text
void FormatLine(LineBuffer& line, const LineFields& fields);

// "ERROR", "WARNING", "INFO", "DEBUG", or the value in hexadecimal ("0x10").
std::string_view SeverityName(std::uint32_t severity, char (&buffer)[11]);

}  // namespace devicescan::logdll
