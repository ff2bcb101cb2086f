#pragma once

#include <cstdint>
#include <string>

#include "host/scan/CancelFlag.h"
#include "host/scan/FileHasher.h"
#include "host/scan/ScanCounts.h"
#include "host/scan/ScanObserver.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::scan {

// Scans a folder tree (a volume root such as E:\, or any folder; a single file also works)
// against a sealed SignatureDatabase and the built-in test-file check. Each file's size is
// looked up first: only a file that a signature could match is opened, and read once with the
// hash types its size needs. Empty files are never reported. A file that cannot be opened or
// read, or a folder that cannot be listed, counts as an error and the scan goes on. Directory
// links (reparse points) are counted but not entered. The cancel flag is checked before every
// entry and every block read.
//
// Threads: one scanner per scanning thread (it owns a FileHasher); the database and the
// cancel flag may be shared.
class FolderScanner {
  public:
    struct Options {
        std::uint64_t progressEvery = 0;  // files between two OnProgress calls; 0: none
        std::uint32_t pauseMs = 0;        // a pause after each file, to watch a scan; 0: none
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
    FileHasher hasher;
};

}  // namespace devicescan::scan
