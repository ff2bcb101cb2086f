#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/quarantine/Manifest.h"
#include "host/quarantine/QuarantineFileSystem.h"
#include "host/scan/Digest.h"

namespace devicescan::quarantine {

// Takes files that hold a detection into a quarantine folder without ever losing one: the file
// is copied under a new name of its own with a non-executable extension, flushed, read back and
// its SHA-256 compared with what was read from the original, the manifest gets its record, and
// only then is the original deleted (when moving). The original is held open against writers
// from before its first byte is read until it is deleted, and it must still be the file the scan
// saw (its size, time and, for a loose file, the digest that matched). Any step that fails leaves
// the original where it was and removes the partial copy; a copy whose original cannot be
// deleted is taken back out and a "withdrawn" record says so. On a read-only volume the file is
// copied and the original stays, and the result says so.
//
// Threads: any; Put may run on several scan workers at once.
class Quarantine {
  public:
    enum class Mode { kMove, kCopy };
    static constexpr const wchar_t* kExtension = L".quarantined";

    // A file found to hold a detection, as the scan saw it.
    struct Request {
        std::wstring path;  // as the scan shows it; the manifest keeps it for a restore
        std::uint64_t size = 0;
        std::uint64_t lastWrite = 0;  // FILETIME ticks; 0: not known, not checked
        // The digest that matched the whole file, when one did (not a member's).
        std::optional<scan::Digest> digest;
        std::vector<std::string> names;  // the signatures found in it (UTF-8)
    };

    struct Result {
        enum class Outcome {
            kMoved,           // in the folder, the original deleted
            kCopied,          // in the folder, the original kept (--copy)
            kCopiedReadOnly,  // in the folder; moving was asked but the volume takes no writes
            kFailed,          // nothing changed: the original stays, no copy is left
        };
        Outcome outcome = Outcome::kFailed;
        std::wstring id;
        std::wstring file;        // the copy's full path
        const char* reason = "";  // kFailed: what failed (see README), e.g. "folder-full"
        DWORD error = 0;          // kFailed: the Win32 code, when a call failed
    };

    // blockSize: the bytes copied per read and write.
    Quarantine(QuarantineFileSystem& files, std::wstring folder, Mode mode,
               std::uint32_t blockSize = 1u << 20);
    Quarantine(const Quarantine&) = delete;
    Quarantine& operator=(const Quarantine&) = delete;

    // Makes the folder when it is missing; 0 or the Win32 code.
    DWORD Prepare();
    Result Put(const Request& request);
    // Whether path lies in the quarantine folder (its files are never taken in again).
    bool Holds(const std::wstring& path) const;

    const std::wstring& Folder() const noexcept { return folder; }

  private:
    class Copy;

    // A new id: the time and a random part, e.g. 20261207-001500-3f9c2a71.
    static std::wstring NewId();

    QuarantineFileSystem& files;
    const std::wstring folder;  // full path, no trailing separator
    const Mode mode;
    const std::uint32_t blockSize;
    Manifest manifest;
};

}  // namespace devicescan::quarantine
