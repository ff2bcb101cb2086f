#pragma once

#include "sdk/IDeviceScanSP.h"

namespace devicescan::service {

// A fresh device record as the handlers build it: nothing measured yet, both strings ready for
// a drive root or a UNC name without growing.
inline qv::rnsdk::FileScan::IDeviceScanSP::Device FreshDeviceRecord() {
    qv::rnsdk::FileScan::IDeviceScanSP::Device device;
    device.path.Preallocate(64);
    device.remote.Preallocate(64);
    return device;
}

}  // namespace devicescan::service
