#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/output/EventPrinter.h"
#include "host/scan/Detection.h"
#include "host/scan/ScanLimit.h"

namespace devicescan::host {

// The output lines of what a scan finds: a detection, a file or member that a limit kept from
// being checked whole, and the warning that a removal was heard while the volume still answered
// (so its scan went on). Inside an archive, "member" is the chain of member names from the file
// on disk inward, as a JSON array in either format, so that no name can be mistaken for another.
//
// Threads: any (pure functions).
class ScanEventLines {
  public:
    // "threat PATH [member=[..]] NAME TYPE=HEX" or
    // {"event":"detection","path":..,["member":[..],]"name":..,"hashType":..,"hash":..,"size":N}.
    // With a quarantine, where the file went: "... quarantine=FILE" or "quarantine":FILE.
    static std::string Detection(EventPrinter::Format format, const scan::Detection& detection,
                                 std::wstring_view quarantine = {});
    // "quarantine PATH moved|copied FILE id=ID" or
    // {"event":"quarantine","path":..,"action":"moved"|"copied","file":..,"id":..}.
    static std::string Quarantined(EventPrinter::Format format, std::wstring_view path, bool moved,
                                   std::wstring_view file, std::wstring_view id);
    // "quarantine-failed PATH REASON [error=CODE (TEXT)] (the original stays)" or
    // {"event":"quarantine-failed","path":..,"reason":..,"error":N}.
    static std::string QuarantineFailed(EventPrinter::Format format, std::wstring_view path,
                                        std::wstring_view reason, std::uint32_t error);
    // A move on a volume that takes no writes: the file was copied, the original stays.
    // "warning PATH read-only-volume (...)" or {"event":"warning","path":..,"reason":..}.
    static std::string ReadOnlyVolume(EventPrinter::Format format, std::wstring_view path);
    // "limit PATH [member=[..]] LIMIT" or {"event":"limit","path":..,["member":[..],]"limit":..}.
    static std::string Limit(EventPrinter::Format format, const scan::ScanLimit& limit);
    // "summary signatures=N databases=N files=N ... elapsed=S.mmms" or
    // {"event":"summary","signatures":N,...,"elapsedMs":N}.
    static std::string Summary(EventPrinter::Format format, const SummaryReport& summary);
    // "warning PATH removal-not-confirmed (...)" or
    // {"event":"warning","path":..,"reason":"removal-not-confirmed"}.
    static std::string RemovalNotConfirmed(EventPrinter::Format format, std::wstring_view path);
};

}  // namespace devicescan::host
