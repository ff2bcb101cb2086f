#include "host/hosting/ProducerPlugin.h"

#include <windows.h>

#include <utility>

#include "host/orchestration/VolumeScanner.h"

namespace devicescan::host {

ProducerPlugin::ProducerPlugin(EventPrinter printer, VolumeScanner* scanner)
    : printer(std::move(printer)), scanner(scanner) {}

std::uint32_t ProducerPlugin::NotifyDeviceMounted(
    const qv::rnsdk::FileScan::IDeviceScanSP::Device& device, std::uint32_t processId) {
    DeviceRecord record = DeviceRecord::CopyOf(device);
    if (processId != GetCurrentProcessId()) {
        printer.Warning(L"NotifyDeviceMounted for " + record.path + L" got process id " +
                        std::to_wstring(processId) + L", this process is " +
                        std::to_wstring(GetCurrentProcessId()));
    }
    printer.Device(true, EventPrinter::Source::kProducer, record);
    if (scanner != nullptr) {
        scanner->Enqueue(record.path);
    }
    return 0;
}

std::uint32_t ProducerPlugin::NotifyDeviceUnmounted(
    const qv::rnsdk::FileScan::IDeviceScanSP::Device& device, std::uint32_t marker) {
    DeviceRecord record = DeviceRecord::CopyOf(device);
    if (marker != kUnmountMarker) {
        printer.Warning(L"NotifyDeviceUnmounted for " + record.path + L" got marker " +
                        std::to_wstring(marker) + L", expected " + std::to_wstring(kUnmountMarker));
    }
    printer.Device(false, EventPrinter::Source::kProducer, record);
    if (scanner != nullptr) {
        scanner->Cancel(record.path);
    }
    return 0;
}

}  // namespace devicescan::host
