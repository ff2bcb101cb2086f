// Volume removal: forgets a drive whose removal is complete and, when it had been announced as
// mounted, announces the removal with the record stored at mount time. Runs on the window thread.
#include <mutex>

#include "devicescan/DeviceScanSP.h"
#include "devicescan/FreshDeviceRecord.h"
#include "logging/LogApi.h"
#include "logging/LogMessage.h"
#include "logging/TraceScope.h"

namespace devicescan::service {

using logging::LOG_INFO;
using logging::LogMessage;
using qv::rnsdk::FileScan::IDeviceScanEventProducer;

namespace {

constexpr wchar_t kOnDeviceRemoveComplete[] = L"DeviceScanSP::OnDeviceRemoveComplete";

}  // namespace

void DeviceScanSP::OnDeviceRemoveComplete(const qv::String& path) {
    logging::TraceScope scope(kOnDeviceRemoveComplete);
    LogMessage(LOG_INFO, kOnDeviceRemoveComplete, L"Device unMounted [path = %s]",
               path.GetString());

    Device device = FreshDeviceRecord();
    {
        // Find, copy and erase together: a record is either fully taken out or left in place.
        devicesThread.Check("the device table touched off the window thread");
        std::lock_guard<qv::CriticalSection> lock(devicesLock);
        if (const Device* stored = devices.Find(path)) {
            device = *stored;
            devices.Remove(path);
        }
    }
    if (device.path.GetLength() == 0) {
        return;
    }

    LogMessage(LOG_INFO, kOnDeviceRemoveComplete, L"removing device [path = %s] [type = %d]",
               device.path.GetString(), device.type);
    if (producer.Plugin() != nullptr) {
        producer.Plugin()->NotifyDeviceUnmounted(device, IDeviceScanEventProducer::kUnmountMarker);
    }
    unmountedEvent.Raise(device);
}

}  // namespace devicescan::service
