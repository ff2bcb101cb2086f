#pragma once

#include <string>
#include <string_view>

#include "host/output/EventPrinter.h"
#include "host/scan/Detection.h"

namespace devicescan::host {

// The output lines of what a scan finds: a detection, and the warning that a removal was heard
// while the volume still answered (so its scan went on).
//
// Threads: any (pure functions).
class ScanEventLines {
  public:
    // "threat PATH NAME TYPE=HEX" or
    // {"event":"detection","path":..,"name":..,"hashType":..,"hash":..,"size":N}.
    static std::string Detection(EventPrinter::Format format, const scan::Detection& detection);
    // "warning PATH removal-not-confirmed (...)" or
    // {"event":"warning","path":..,"reason":"removal-not-confirmed"}.
    static std::string RemovalNotConfirmed(EventPrinter::Format format, std::wstring_view path);
};

}  // namespace devicescan::host
