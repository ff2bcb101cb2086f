#include "drives/DriveClassification.h"

#include <string>

#include "drives/DriveProbes.h"
#include "drives/Platform.h"
#include "drives/SystemDirectory.h"
#include "sdk/FixedStringT.h"
#include "sdk/IDeviceScanSP.h"

namespace devicescan::service {

namespace {

using qv::rnsdk::FileScan::IDeviceScanSP;

bool IsSystemDrive(const qv::String& path) {
    qv::FixedStringT systemDirectory;
    GetSystemDirectoryPath(systemDirectory);
    return systemDirectory.CompareNoCase(path.GetString(), path.GetLength()) == 0;
}

// The device type for a drive type, or 0 when such drives are never offered.
std::int32_t DeviceTypeOf(UINT driveType) {
    switch (driveType) {
        case DRIVE_REMOVABLE:
        case DRIVE_FIXED:
            return IDeviceScanSP::kDeviceTypeLocal;
        case DRIVE_REMOTE:
            return IDeviceScanSP::kDeviceTypeRemote;
        case DRIVE_CDROM:
            return IDeviceScanSP::kDeviceTypeCdRom;
        default:
            return 0;
    }
}

}  // namespace

DriveClassification ClassifyDrive(const qv::String& path,
                                  const std::function<void(UINT driveType)>& onDriveType) {
    DriveClassification drive;
    if (IsSystemDrive(path)) {
        drive.verdict = DriveClassification::Verdict::kSystemDrive;
        return drive;
    }
    drive.driveType = platform::GetDriveTypeW(path.GetString());
    if (onDriveType) {
        onDriveType(drive.driveType);
    }
    drive.deviceType = DeviceTypeOf(drive.driveType);
    if (drive.deviceType == 0) {
        drive.verdict = DriveClassification::Verdict::kUnsupportedType;
        return drive;
    }
    if (drive.deviceType == IDeviceScanSP::kDeviceTypeLocal &&
        utils::IsFixedDrive(std::wstring(path.GetString()))) {
        drive.verdict = DriveClassification::Verdict::kFixedDisk;
        return drive;
    }
    drive.verdict = DriveClassification::Verdict::kOffered;
    return drive;
}

}  // namespace devicescan::service
