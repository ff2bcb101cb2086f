#include "host/hosting/HostListener.h"

#include <utility>

namespace devicescan::host {

HostListener::HostListener(EventPrinter printer) : printer(std::move(printer)) {}

int HostListener::OnDeviceMounted(const qv::rnsdk::FileScan::IDeviceScanSP::Device& device) {
    printer.Device(true, EventPrinter::Source::kListener, DeviceRecord::CopyOf(device));
    return 0;
}

int HostListener::OnDeviceUnmounted(const qv::rnsdk::FileScan::IDeviceScanSP::Device& device) {
    printer.Device(false, EventPrinter::Source::kListener, DeviceRecord::CopyOf(device));
    return 0;
}

}  // namespace devicescan::host
