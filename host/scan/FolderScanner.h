#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/scan/CancelFlag.h"
#include "host/scan/ScanCounts.h"
#include "host/scan/ScanObserver.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::scan {

class PathFilter;

// Scans a folder tree (a volume root such as E:\, or any folder; a single file also works)
// against a sealed SignatureDatabase and the built-in test-file check. Each file's size is
// looked up first for the hash types it needs; a file is read once, hashed with those types,
// and when its first bytes are a zip, gzip or tar archive, opened in the same pass, members of
// members included, each member checked exactly as a file (see ContentCheck). Empty files are
// never reported. A file that cannot be opened or read, or a folder that cannot be listed,
// counts as an error and the scan goes on. Directory
// links (reparse points) are counted but not entered. The options' filter sees each entry's full
// path (the root made absolute, without the \\?\ prefix); the root itself is filtered too. The
// cancel flag is checked before every entry and every block read.
//
// Threads: one scanner per scanning thread (it owns its read buffer); the database and the
// cancel flag may be shared.
class FolderScanner {
  public:
    // The limits have clamscan's names and defaults; 0 lifts a limit.
    struct Options {
        std::uint64_t progressEvery = 0;  // files between two OnProgress calls; 0: none
        std::uint32_t pauseMs = 0;        // a pause after each file, to watch a scan; 0: none
        bool openArchives = true;         // false: archives are checked as files only, never opened
        std::uint64_t maxFileSize = 100 << 20;  // a larger file or member is not read
        std::uint64_t maxScanSize = 400 << 20;  // bytes inflated out of one file on disk
        std::uint64_t maxFiles = 10000;         // members opened in one file on disk
        std::uint32_t maxRecursion = 17;        // archives within archives opened, at most
        // The files and folders left out, each counted as excluded; none: everything is scanned.
        std::shared_ptr<const PathFilter> filter = nullptr;
    };
    enum class Outcome { kFinished, kCancelled, kFailed };
    struct Result {
        Outcome outcome = Outcome::kFinished;
        ScanCounts counts;
        std::uint32_t error = 0;  // kFailed: why the root could not be listed
    };

    FolderScanner(const SignatureDatabase& database, Options options);

    Result Scan(const std::wstring& root, const CancelFlag& cancel, ScanObserver& observer);

  private:
    const SignatureDatabase& database;
    Options options;
    std::vector<std::uint8_t> block;
};

}  // namespace devicescan::scan
