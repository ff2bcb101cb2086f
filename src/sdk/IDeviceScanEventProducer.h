#pragma once

#include <cstdint>

#include "sdk/IDeviceScanSP.h"
#include "sdk/InterfaceId.h"

namespace qv::rnsdk::FileScan {

// The producer plugin that the host's component manager hands out under the name
// "FileScan.OnDemand.DeviceScanAL". It hears of every mount and removal before the listeners.
struct IDeviceScanEventProducer {
    // {328B2BC6-3AFD-9ED2-5B42-083A9508491E}
    static constexpr InterfaceId kId{0x9ed23afd328b2bc6ull, 0x1e4908953a08425bull};

    // processId: the process the service runs in.
    virtual std::uint32_t NotifyDeviceMounted(const IDeviceScanSP::Device& device,
                                              std::uint32_t processId) = 0;
    // marker: always kUnmountMarker.
    virtual std::uint32_t NotifyDeviceUnmounted(const IDeviceScanSP::Device& device,
                                                std::uint32_t marker) = 0;

    static constexpr std::uint32_t kUnmountMarker = 0xDEAD;
};

}  // namespace qv::rnsdk::FileScan
