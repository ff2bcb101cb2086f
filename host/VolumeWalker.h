#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scan/CancelFlag.h"

namespace devicescan::host {

// Walks a directory tree (a volume root such as E:\, or any directory) and counts what it finds:
// files and their bytes, directories below the root, directories that could not be listed.
// Directory links (reparse points) are counted but not entered, so a junction loop cannot trap
// the walk. The cancel flag is checked before every entry.
//
// Threads: runs on the caller's thread; only the cancel flag is shared.
class VolumeWalker {
  public:
    struct Counts {
        std::uint64_t files = 0;
        std::uint64_t directories = 0;
        std::uint64_t bytes = 0;
        std::uint64_t errors = 0;
    };
    enum class Outcome { kFinished, kCancelled, kFailed };
    struct Result {
        Outcome outcome = Outcome::kFinished;
        Counts counts;
        std::uint32_t error = 0;  // kFailed: why the root could not be listed
    };
    using ProgressCallback = std::function<void(const Counts&)>;

    // progressEvery: files between two progress calls (0: none). pauseMs: a pause after each
    // file, to make a walk slow enough to watch (0: none).
    VolumeWalker(std::uint64_t progressEvery, std::uint32_t pauseMs) noexcept
        : progressEvery(progressEvery), pauseMs(pauseMs) {}

    Result Walk(const std::wstring& root, const scan::CancelFlag& cancel,
                const ProgressCallback& progress) const;

    // The form handed to the file system: absolute, with the \\?\ prefix that lifts the length
    // limit for drive paths and UNC paths.
    static std::wstring LongPathOf(const std::wstring& path);

  private:
    std::uint64_t progressEvery;
    std::uint32_t pauseMs;
};

}  // namespace devicescan::host
