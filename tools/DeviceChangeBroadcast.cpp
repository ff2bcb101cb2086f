#include "tools/DeviceChangeBroadcast.h"

#include <dbt.h>

namespace devicescan::tools {

DWORD BroadcastDeviceChange(const DeviceChange& change) {
    if (change.withHeader && (change.event & 0x8000) == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = change.deviceType;
    volume.dbcv_unitmask = change.unitMask;
    volume.dbcv_flags = change.flags;
    const LPARAM header = change.withHeader ? reinterpret_cast<LPARAM>(&volume) : 0;

    DWORD recipients = BSM_APPLICATIONS;
    SetLastError(ERROR_SUCCESS);
    const long answer = BroadcastSystemMessageW(BSF_FORCEIFHUNG | BSF_QUERY, &recipients,
                                                WM_DEVICECHANGE, change.event, header);
    if (answer > 0) {
        return ERROR_SUCCESS;
    }
    if (answer == 0) {
        return ERROR_CANCELLED;
    }
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

}  // namespace devicescan::tools
