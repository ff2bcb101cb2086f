#pragma once

#include <cstdint>
#include <string>

namespace devicescan::scan {

// Why a database could not be loaded: the file (or folder), the line when a line is at fault
// (0 otherwise), what is wrong, and for a container the file inside it that is at fault (empty
// when the container as a whole is).
struct DatabaseError {
    std::wstring path;
    std::uint64_t line = 0;
    std::wstring problem;
    std::wstring member{};

    // "PATH:LINE: PROBLEM", or "PATH: PROBLEM" without a line; "PATH [MEMBER]..." for a file
    // inside a container.
    std::wstring Message() const;
};

}  // namespace devicescan::scan
