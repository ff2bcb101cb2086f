#pragma once

#include <string>
#include <vector>

namespace devicescan::scan {

// Something a scan did not check, or did not check whole, because a limit stopped it.
struct ScanLimit {
    // The limits' names, as clamscan calls its options.
    static constexpr const char* kMaxFileSize = "max-filesize";    // a file or member too large
    static constexpr const char* kMaxScanSize = "max-scansize";    // inflated bytes of one file
    static constexpr const char* kMaxFiles = "max-files";          // members of one file
    static constexpr const char* kMaxRecursion = "max-recursion";  // archives nested too deep
    // Not a limit of the scan's options: a member packed in a way no reader here takes.
    static constexpr const char* kUnsupportedMethod = "unsupported-compression";

    std::wstring path;                 // the file on disk, as the scan was given it
    std::vector<std::string> members;  // UTF-8, outermost archive first; empty: the file itself
    const char* limit = kMaxFileSize;  // one of the names above
};

}  // namespace devicescan::scan
