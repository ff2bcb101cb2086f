#include "host/app/QuarantineRun.h"

#include <vector>

#include "host/app/ExitCode.h"
#include "host/output/JsonLine.h"
#include "host/quarantine/Manifest.h"
#include "host/quarantine/QuarantineRestore.h"
#include "host/quarantine/Win32FileSystem.h"
#include "host/scan/LongPath.h"
#include "sdk/SystemMessage.h"
#include "sdk/Utf8.h"

namespace devicescan::host {

namespace {

using quarantine::ManifestRecord;

std::wstring Why(const char* reason, DWORD code) {
    return qv::FromUtf8(reason) + (code != 0 ? L": " + qv::DescribeError(code) : L"");
}

std::wstring Names(const std::vector<std::string>& names) {
    return qv::FromUtf8(JsonLine::Array(names));
}

// The readable line of one manifest record.
std::wstring Text(const ManifestRecord& record) {
    switch (record.kind) {
        case ManifestRecord::Kind::kQuarantined:
            return L"quarantined " + record.id + L" " + record.original + L" file=" + record.file +
                   L" size=" + std::to_wstring(record.size) + L" sha256=" + record.sha256 +
                   L" time=" + record.time + L" names=" + Names(record.names) +
                   (record.originalKept ? L" (copy)" : L"");
        case ManifestRecord::Kind::kRestored:
            return L"restored " + record.id + L" time=" + record.time;
        case ManifestRecord::Kind::kWithdrawn:
            return L"withdrawn " + record.id + L" time=" + record.time + L" reason=" +
                   record.reason;
    }
    return L"";
}

}  // namespace

int QuarantineRun::Restore(const HostOptions& options, const LineWriter& out,
                           const LineWriter& error) {
    quarantine::Win32FileSystem files;
    const quarantine::QuarantineRestore::Result result =
        quarantine::QuarantineRestore(files, options.quarantineDir).Restore(options.restoreId);
    if (!result.restored) {
        error.Write(qv::ToUtf8(L"devicescan-host: cannot restore " + options.restoreId +
                               (result.original.empty() ? L"" : L" to " + result.original) + L": " +
                               Why(result.reason, result.error)));
        return static_cast<int>(ExitCode::kUsage);
    }
    if (result.leftInQuarantine) {
        error.Write(qv::ToUtf8(L"devicescan-host: " + options.restoreId +
                               L" is restored, but its quarantined copy could not be deleted"));
    }
    if (options.json) {
        out.Write(JsonLine()
                      .Add("event", L"restored")
                      .Add("id", options.restoreId)
                      .Add("path", result.original)
                      .Text());
    } else {
        out.Write(qv::ToUtf8(L"restored " + options.restoreId + L" " + result.original));
    }
    return static_cast<int>(ExitCode::kSuccess);
}

int QuarantineRun::List(const HostOptions& options, const LineWriter& out,
                        const LineWriter& error) {
    quarantine::Win32FileSystem files;
    const quarantine::Manifest manifest(files, scan::LongPathOf(options.listQuarantine));
    std::vector<ManifestRecord> records;
    std::size_t skipped = 0;
    const DWORD code = manifest.ReadAll(records, skipped);
    if (code == ERROR_FILE_NOT_FOUND) {
        return static_cast<int>(ExitCode::kSuccess);  // nothing was ever quarantined there
    }
    if (code != 0) {
        error.Write(qv::ToUtf8(L"devicescan-host: cannot read the quarantine manifest " +
                               options.listQuarantine + L": " + qv::DescribeError(code)));
        return static_cast<int>(ExitCode::kUsage);
    }
    for (const ManifestRecord& record : records) {
        out.Write(options.json ? record.Line() : qv::ToUtf8(Text(record)));
    }
    if (skipped != 0) {
        error.Write("devicescan-host: " + std::to_string(skipped) +
                    " line(s) of the manifest are not records and were left out");
    }
    return static_cast<int>(ExitCode::kSuccess);
}

}  // namespace devicescan::host
