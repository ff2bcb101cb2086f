#pragma once

#include <cstdint>
#include <string>

#include "sdk/IDeviceScanSP.h"

namespace devicescan::host {

// The host's own copy of a device record. The module's record is valid only during the call that
// passes it, and its strings belong to the module's string manager; this copy holds plain wide
// strings that stay valid after the module is unloaded.
struct DeviceRecord {
    std::int32_t type = 0;
    std::wstring path;
    std::wstring remote;
    std::uint64_t fullSize = 0;
    std::uint64_t storedSize = 0;
    std::uint32_t sessionId = 0xFFFFFFFF;

    static DeviceRecord CopyOf(const qv::rnsdk::FileScan::IDeviceScanSP::Device& device) {
        return DeviceRecord{device.type,
                            std::wstring(device.path.GetString(),
                                         static_cast<std::size_t>(device.path.GetLength())),
                            std::wstring(device.remote.GetString(),
                                         static_cast<std::size_t>(device.remote.GetLength())),
                            device.fullSize,
                            device.storedSize,
                            device.sessionId};
    }
};

}  // namespace devicescan::host
