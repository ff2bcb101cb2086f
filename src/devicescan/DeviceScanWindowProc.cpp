// The window procedure of the invisible window: turns device-change broadcasts into calls of the
// arrival and removal handlers. Runs on the window thread, one message at a time. The log texts
// are kept word for word, spelling included: tools that read the log match on them.
#include <windows.h>
#include <dbt.h>

#include "devicescan/DeviceScanSP.h"
#include "devicescan/ThreadErrorModeGuard.h"
#include "logging/LogApi.h"
#include "logging/LogMessage.h"

namespace devicescan::service {

using logging::LOG_ERROR;
using logging::LOG_INFO;
using logging::LogMessage;

namespace {

constexpr wchar_t kWindowProc[] = L"DeviceScanSP::WindowProc";
constexpr int kDriveCount = 26;  // A to Z; higher mask bits are never looked at

// Writes the one line every device-change notification gets.
void LogNotification(WPARAM change) {
    const wchar_t* line = nullptr;
    switch (change) {
        case DBT_DEVICEARRIVAL:
            line = L"receive DEVICE_ARRIVAL";
            break;
        case DBT_CONFIGCHANGED:
            line = L"receive DEVICE_CONFIG_CHANGED";
            break;
        case DBT_DEVICEQUERYREMOVE:
            line = L"receive DEVICE_QUERY_REMOVE";
            break;
        case DBT_DEVICEQUERYREMOVEFAILED:
            line = L"receive DEVICE_QUERY_REMOVE_FAILED";
            break;
        case DBT_DEVICEREMOVEPENDING:
            line = L"receive DEVICE_REMOVE_PENDING";
            break;
        case DBT_DEVICEREMOVECOMPLETE:
            line = L"receive DEVICE_REMOVE_COMPLETE";
            break;
        case DBT_DEVICETYPESPECIFIC:
            line = L"receive DEVICE_TYPE_SPECIFIC";
            break;
        default:
            LogMessage(LOG_INFO, kWindowProc, L"receive DEVICE_OTHER_MSG [value = %d]",
                       static_cast<int>(change));
            return;
    }
    LogMessage(LOG_INFO, kWindowProc, line);
}

// The root path of the lowest drive in the mask (E:\ for bit 4), or an empty string when none of
// the drive bits is set. One drive per notification: the others are not handled.
qv::String LowestDriveRoot(DWORD unitMask) {
    int index = 0;
    while (index < kDriveCount && (unitMask & (1u << index)) == 0) {
        ++index;
    }
    if (index == kDriveCount) {
        return qv::String();
    }
    const wchar_t root[] = {static_cast<wchar_t>(L'A' + index), L':', L'\\', L'\0'};
    return qv::String(root);
}

bool IsVolumeAction(WPARAM change, LPARAM header) {
    if (change != DBT_DEVICEARRIVAL && change != DBT_DEVICEREMOVECOMPLETE) {
        return false;
    }
    const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_HDR*>(header);
    return broadcast != nullptr && broadcast->dbch_devicetype == DBT_DEVTYP_VOLUME;
}

}  // namespace

LRESULT CALLBACK DeviceScanSP::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<DeviceScanSP*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_DESTROY) {
        LogMessage(LOG_INFO, kWindowProc, L"window is destorying ...");
        PostQuitMessage(0);
        return 1;
    }
    if (message != WM_DEVICECHANGE) {
        return DefWindowProcW(window, message, wParam, lParam);
    }

    LogNotification(wParam);
    if (!IsVolumeAction(wParam, lParam)) {
        return 1;
    }
    const DWORD unitMask = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lParam)->dbcv_unitmask;
    const qv::String path = LowestDriveRoot(unitMask);
    if (path.GetLength() == 0) {
        LogMessage(LOG_ERROR, kWindowProc, L"cannot retrive drive path [action = %s] [mask = %d]",
                   wParam == DBT_DEVICEARRIVAL ? L"Mount" : L"UnMount", static_cast<int>(unitMask));
        return 1;
    }
    LogMessage(LOG_INFO, kWindowProc, L"Extracted device \"%s\" from mask 0x%08x", path.GetString(),
               unitMask);
    self->HandleVolumeChange(wParam, path);
    return 1;
}

void DeviceScanSP::HandleVolumeChange(WPARAM change, const qv::String& path) {
    // Nothing may unwind into the system's message dispatch; a handler that fails (out of
    // memory) loses this one notification and the window goes on.
    try {
        if (change == DBT_DEVICEARRIVAL) {
            // Probing a drive without a medium must not raise a system dialog.
            ThreadErrorModeGuard errorMode;
            OnDeviceArrival(path);
            return;
        }
        OnDeviceRemoveComplete(path);
    } catch (...) {
        LogMessage(LOG_ERROR, kWindowProc, L"device handler failed [path = %s]", path.GetString());
    }
}

}  // namespace devicescan::service
