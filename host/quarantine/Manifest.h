#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/quarantine/ManifestRecord.h"
#include "host/quarantine/QuarantineFileSystem.h"
#include "sdk/CriticalSection.h"

namespace devicescan::quarantine {

// The manifest of one quarantine folder (manifest.jsonl in it): one record a line, each
// appended and flushed on its own, never a line rewritten.
//
// Threads: any; appends of this object are serialised.
class Manifest {
  public:
    static constexpr const wchar_t* kFileName = L"manifest.jsonl";
    // A manifest larger than this is not read (a record takes a few hundred bytes).
    static constexpr std::uint64_t kMaxBytes = 256ull << 20;

    Manifest(QuarantineFileSystem& files, std::wstring folder);

    // Appends the record's line and flushes it; 0 or the Win32 code of the step that failed.
    DWORD Append(const ManifestRecord& record);
    // Every record, in order; lines that are not records (a line torn by a crash) are counted
    // in skipped. 0, or the Win32 code when the manifest cannot be read (ERROR_FILE_NOT_FOUND
    // when there is none yet).
    DWORD ReadAll(std::vector<ManifestRecord>& records, std::size_t& skipped) const;

    const std::wstring& Path() const noexcept { return path; }

  private:
    // Whether the open manifest's last line lacks its line break.
    static DWORD EndsTorn(QuarantineFile& file, bool& torn);

    QuarantineFileSystem& files;
    const std::wstring path;
    qv::CriticalSection appendLock;
};

}  // namespace devicescan::quarantine
