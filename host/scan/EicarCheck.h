#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace devicescan::scan {

// The built-in signature of the standard anti-virus test file: its 68-byte text at the very
// start of the file, followed by nothing or only white space, 128 bytes at most in all.
// The text is never stored whole in this program: it is assembled from pieces when needed, so
// that scanners on developers' machines do not take the binaries or sources for the test file.
class EicarCheck {
  public:
    static constexpr const char* kName = "EICAR-Test-File";
    static constexpr std::size_t kTextSize = 68;
    static constexpr std::uint64_t kMaxFileSize = 128;

    // Whether a file of this size can be the test file (and so must be read for it).
    static bool SizeFits(std::uint64_t size) noexcept {
        return size >= kTextSize && size <= kMaxFileSize;
    }
    // content: the whole file.
    static bool Matches(std::span<const std::uint8_t> content);
    // The 68-byte text, assembled at run time (for tests and the demo that write test files).
    static std::string Text();
};

}  // namespace devicescan::scan
