#pragma once

#include <cstdint>
#include <string>

namespace devicescan::scan {

// Why a database could not be loaded: the file (or folder), the line when a line is at fault
// (0 otherwise), and what is wrong.
struct DatabaseError {
    std::wstring path;
    std::uint64_t line = 0;
    std::wstring problem;

    // "PATH:LINE: PROBLEM", or "PATH: PROBLEM" without a line.
    std::wstring Message() const;
};

}  // namespace devicescan::scan
