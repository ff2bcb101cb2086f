#pragma once

#include "host/output/EventPrinter.h"
#include "sdk/IDeviceScanSP.h"

namespace devicescan::host {

// The listener the host registers with the service. Each notification copies the record and
// queues its line; nothing here waits.
//
// Threads: called on the module's window thread, one notification at a time.
class HostListener final : public qv::rnsdk::FileScan::IDeviceScanSP::IEvents {
  public:
    explicit HostListener(EventPrinter printer);

    int Reserved() override { return 0; }
    int OnDeviceMounted(const qv::rnsdk::FileScan::IDeviceScanSP::Device& device) override;
    int OnDeviceUnmounted(const qv::rnsdk::FileScan::IDeviceScanSP::Device& device) override;

  private:
    EventPrinter printer;
};

}  // namespace devicescan::host
