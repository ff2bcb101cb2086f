#include "host/orchestration/VolumeIdentity.h"

#include <windows.h>

#include "host/scan/LongPath.h"

namespace devicescan::host {

VolumeIdentity VolumeIdentity::Read(const std::wstring& path) {
    VolumeIdentity identity;
    const DWORD attributes = GetFileAttributesW(scan::LongPathOf(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return identity;
    }
    wchar_t root[MAX_PATH + 1];
    if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1)) {
        return identity;
    }
    DWORD serial = 0;
    if (!GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
        return identity;
    }
    identity.known = true;
    identity.serial = serial;
    return identity;
}

bool VolumeIdentity::StillAnswers(const std::wstring& path) const {
    if (!known) {
        return false;
    }
    const VolumeIdentity now = Read(path);
    return now.known && now.serial == serial;
}

}  // namespace devicescan::host
