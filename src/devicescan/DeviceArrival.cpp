// Volume arrival: decides whether a drive that just arrived is offered for scanning, records it
// and announces it. Runs on the window thread, inside the window procedure's error-mode guard.
#include <windows.h>
#include <winnetwk.h>

#include <mutex>

#include "devicescan/DeviceScanSP.h"
#include "devicescan/FreshDeviceRecord.h"
#include "drives/DriveClassification.h"
#include "drives/Platform.h"
#include "logging/LogApi.h"
#include "logging/LogMessage.h"
#include "logging/TraceScope.h"

namespace devicescan::service {

using logging::LOG_ERROR;
using logging::LOG_INFO;
using logging::LOG_WARNING;
using logging::LogMessage;
using qv::rnsdk::FileScan::IDeviceScanSP;
using Device = IDeviceScanSP::Device;

namespace {

constexpr wchar_t kOnDeviceArrival[] = L"DeviceScanSP::OnDeviceArrival";
constexpr DWORD kUniversalNameBufferBytes = 2048;

// Reads the drive's size into the record; false, with the reason logged, when the drive is not
// worth a scan (size unknown, zero, or nothing stored on it).
bool MeasureDrive(Device& device) {
    ULARGE_INTEGER freeToCaller{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    const wchar_t* path = device.path.GetString();
    if (!platform::GetDiskFreeSpaceExW(path, &freeToCaller, &total, &totalFree)) {
        LogMessage(LOG_ERROR, kOnDeviceArrival, L"disk info failed [path = %s] [error = %d]", path,
                   GetLastError());
        return false;
    }
    if (total.QuadPart == 0) {
        LogMessage(LOG_WARNING, kOnDeviceArrival, L"disk info : 0 total bytes [path = %s]", path);
        return false;
    }
    if (total.QuadPart == totalFree.QuadPart || total.QuadPart == freeToCaller.QuadPart) {
        LogMessage(LOG_WARNING, kOnDeviceArrival,
                   L"disk info : drive is empty or no user-quota [path = %s]", path);
        return false;
    }
    device.fullSize = total.QuadPart;
    device.storedSize = total.QuadPart - std::min(totalFree.QuadPart, freeToCaller.QuadPart);
    return true;
}

// Fills the record's remote with the drive's UNC name; an unresolvable name leaves it empty.
void ResolveRemoteName(Device& device) {
    const wchar_t localName[] = {device.path.GetString()[0], L':', L'\0'};
    alignas(UNIVERSAL_NAME_INFOW) BYTE buffer[kUniversalNameBufferBytes] = {};
    DWORD size = sizeof(buffer);
    const DWORD result =
        platform::WNetGetUniversalNameW(localName, UNIVERSAL_NAME_INFO_LEVEL, buffer, &size);
    if (result != NO_ERROR) {
        LogMessage(LOG_INFO, kOnDeviceArrival,
                   L"cannot resolve remote path [localPath = %s] [error = %d]",
                   device.path.GetString(), result);
        return;
    }
    device.remote = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(buffer)->lpUniversalName;
}

}  // namespace

void DeviceScanSP::OnDeviceArrival(const qv::String& path) {
    logging::TraceScope scope(kOnDeviceArrival);
    using Verdict = devicescan::service::DriveClassification::Verdict;
    const auto drive = devicescan::service::ClassifyDrive(path, [&](UINT driveType) {
        LogMessage(LOG_INFO, kOnDeviceArrival, L"GetDriveType [path = %s] [driveType = %u]",
                   path.GetString(), driveType);
    });
    switch (drive.verdict) {
        case Verdict::kSystemDrive:
            LogMessage(LOG_WARNING, kOnDeviceArrival,
                       L"Skip system drive from scanning! [path = %s]", path.GetString());
            return;
        case Verdict::kUnsupportedType:
            LogMessage(LOG_ERROR, kOnDeviceArrival,
                       L"invalid drive type [path = %s] [driveType = %u]", path.GetString(),
                       drive.driveType);
            return;
        case Verdict::kFixedDisk:
            LogMessage(LOG_WARNING, kOnDeviceArrival,
                       L"Fixed drive reported as removable [path = %s] [driveType = %u]",
                       path.GetString(), drive.driveType);
            return;
        case Verdict::kOffered:
            break;
    }

    Device device = FreshDeviceRecord();
    device.path = path;
    device.type = drive.deviceType;
    if (!MeasureDrive(device)) {
        return;
    }
    device.sessionId = sessionId;

    {
        devicesThread.Check("the device table touched off the window thread");
        std::lock_guard<qv::CriticalSection> lock(devicesLock);
        if (devices.Find(device.path) != nullptr) {
            LogMessage(LOG_INFO, kOnDeviceArrival,
                       L"Device Already Mounted [path = %s] [remote = %s] [type = %d]",
                       device.path.GetString(), device.remote.GetString(), device.type);
            return;
        }
        devices.Insert(device.path, device);
    }

    // The stored copy keeps an empty remote; the UNC name is for the announcement only.
    if (device.type == IDeviceScanSP::kDeviceTypeRemote && device.path.GetLength() != 0) {
        ResolveRemoteName(device);
    }
    LogMessage(LOG_INFO, kOnDeviceArrival,
               L"Device Mounted [path = %s] [remote = %s] [type = %d] [fullSize = %llu MB] "
               L"[storedSize = %llu MB]",
               device.path.GetString(), device.remote.GetString(), device.type,
               device.fullSize >> 20, device.storedSize >> 20);
    if (producer.Plugin() != nullptr) {
        producer.Plugin()->NotifyDeviceMounted(device, GetCurrentProcessId());
    }
    mountedEvent.Raise(device);
}

}  // namespace devicescan::service
