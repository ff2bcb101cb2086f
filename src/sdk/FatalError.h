#pragma once

#include <cstdio>
#include <exception>

namespace qv {

// The library's fatal error: a broken internal invariant (a damaged string guard word, a string
// allocation that cannot be satisfied, a lock released or upgraded by a thread that may not).
// Nothing catches it; the process ends here with a one-line reason on stderr.
[[noreturn]] inline void RaiseFatalError(const char* reason) noexcept {
    std::fprintf(stderr, "fatal error: %s\n", reason);
    std::fflush(stderr);
    std::terminate();
}

}  // namespace qv
