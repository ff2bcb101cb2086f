#pragma once

#include <cstdint>

#include "host/output/EventPrinter.h"
#include "sdk/IDeviceScanEventProducer.h"

namespace devicescan::host {

class VolumeScanner;

// The producer plugin "FileScan.OnDemand.DeviceScanAL" that the component manager hands to the
// service. A mount is printed and its volume queued for an on-demand scan; a removal is printed
// and cancels the scan of that volume. It also checks the second argument of each notification
// (the service's process id, the removal marker) and warns when it is not what it should be.
//
// Threads: called on the module's window thread. It only copies, queues and signals: the scan
// itself runs on the scanner's worker. The scanner may be null (scanning switched off).
class ProducerPlugin final : public qv::rnsdk::FileScan::IDeviceScanEventProducer {
  public:
    ProducerPlugin(EventPrinter printer, VolumeScanner* scanner);

    std::uint32_t NotifyDeviceMounted(const qv::rnsdk::FileScan::IDeviceScanSP::Device& device,
                                      std::uint32_t processId) override;
    std::uint32_t NotifyDeviceUnmounted(const qv::rnsdk::FileScan::IDeviceScanSP::Device& device,
                                        std::uint32_t marker) override;

  private:
    EventPrinter printer;
    VolumeScanner* scanner;
};

}  // namespace devicescan::host
