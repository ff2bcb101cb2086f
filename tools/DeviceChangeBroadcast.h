#pragma once

#include <windows.h>

namespace devicescan::tools {

// One WM_DEVICECHANGE notification as the system sends it for volumes.
struct DeviceChange {
    WPARAM event = 0;        // DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE or any other code
    bool withHeader = true;  // false: lParam is null
    DWORD deviceType = 2;    // dbch_devicetype; 2 is DBT_DEVTYP_VOLUME
    DWORD unitMask = 0;      // dbcv_unitmask, bit 0 = A:
    WORD flags = 0;          // dbcv_flags: DBTF_MEDIA, DBTF_NET
};

// Sends the notification to every top-level window of every application, with a
// DEV_BROADCAST_VOLUME as lParam, and returns once each window has answered or was skipped as
// hung. ERROR_SUCCESS, ERROR_CANCELLED when a window denied the request, else the failure's code.
// A header travels to other processes only with events that have bit 0x8000 set (those are the
// ones the system copies), so other events must go without one: ERROR_INVALID_PARAMETER.
DWORD BroadcastDeviceChange(const DeviceChange& change);

}  // namespace devicescan::tools
