#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devicescan::quarantine {

// One line of a quarantine folder's manifest: a file taken in, or what became of it later. The
// manifest only grows: a file restored, or taken back because its original could not be
// deleted, gets a later record with its id, never an edited line.
//
// {"record":"quarantined","id":..,"original":..,"file":..,"size":N,"sha256":..,"time":..,
//  "names":[..],"mode":"move"|"copy"}
// {"record":"restored"|"withdrawn","id":..,"time":..[,"reason":..]}
struct ManifestRecord {
    enum class Kind { kQuarantined, kRestored, kWithdrawn };

    Kind kind = Kind::kQuarantined;
    std::wstring id;
    std::wstring time;  // UTC, 2026-12-07T00:15:00Z
    // kQuarantined only:
    std::wstring original;  // the path the file had
    std::wstring file;      // its name in the quarantine folder
    std::uint64_t size = 0;
    std::wstring sha256;             // lower-case hex
    std::vector<std::string> names;  // the signatures it matched (UTF-8)
    bool originalKept = false;       // a copy: the original was left where it was
    // kWithdrawn only: why the file was taken back out.
    std::wstring reason;

    // The line, without its line break.
    std::string Line() const;
    // The record of one line; nothing when the line is not one (a torn or foreign line).
    static std::optional<ManifestRecord> Parse(std::string_view line);
    // The current time in the manifest's form.
    static std::wstring Now();
};

}  // namespace devicescan::quarantine
