#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "sdk/StringT.h"

namespace devicescan::service {

// What the service's rules make of a drive, before its size is looked at.
struct DriveClassification {
    enum class Verdict {
        kOffered,          // worth a scan if it holds anything
        kSystemDrive,      // the drive of the system directory: never scanned
        kUnsupportedType,  // RAM disk, unknown or missing drive
        kFixedDisk,        // a local drive that the storage stack knows as a fixed disk
    };
    Verdict verdict = Verdict::kUnsupportedType;
    UINT driveType = DRIVE_UNKNOWN;  // as the system reports it; not read for the system drive
    std::int32_t deviceType = 0;     // IDeviceScanSP::kDeviceType*, 0 for unsupported types
};

// Decides whether the drive at path (a root such as E:\) is one the service offers for a scan:
// never the system drive, never a RAM disk or a drive of unknown kind, and a drive that calls
// itself removable or fixed only when the hot-plug probe does not find a fixed disk behind it
// (a USB disk may call itself fixed, a card reader slot removable). The arrival handler and
// hosts that look at the drives already present use this one set of rules. onDriveType, when
// given, hears the system's drive type before the probe runs.
DriveClassification ClassifyDrive(const qv::String& path,
                                  const std::function<void(UINT driveType)>& onDriveType = {});

}  // namespace devicescan::service
