#pragma once

#include <atomic>
#include <cstdint>

#include "host/output/EventPrinter.h"
#include "sdk/IComponentManager.h"
#include "sdk/IDeviceScanEventProducer.h"

namespace devicescan::host {

// The host's component manager. It knows one plugin: the producer, handed out under the name
// "FileScan.OnDemand.DeviceScanAL" for the IDeviceScanEventProducer identity only. Names are
// compared exactly. Acquisitions are counted, so that the host can tell at exit whether the
// service gave its plugin back.
//
// Codes: 0 handed out / given back; 87 (ERROR_INVALID_PARAMETER) for a null name or out
// pointer; 1168 (ERROR_NOT_FOUND) for another name, or a release of a plugin not held;
// 50 (ERROR_NOT_SUPPORTED) for the right name with another identity.
//
// Threads: called by the service on the host's thread during Init and UnInit; the count is
// atomic all the same.
class ComponentManager final : public qv::IComponentManager {
  public:
    static constexpr const wchar_t* kProducerName = L"FileScan.OnDemand.DeviceScanAL";

    ComponentManager(qv::rnsdk::FileScan::IDeviceScanEventProducer* producer, EventPrinter printer);

    std::uint32_t AcquirePlugin(const wchar_t* name, qv::InterfaceId id, void** plugin) override;
    std::uint32_t ReleasePlugin(const wchar_t* name) override;

    // Acquisitions not given back yet.
    int HeldCount() const noexcept { return held.load(); }

  private:
    std::uint32_t Acquire(const wchar_t* name, qv::InterfaceId id, void** plugin);
    std::uint32_t Release(const wchar_t* name);

    qv::rnsdk::FileScan::IDeviceScanEventProducer* producer;
    EventPrinter printer;
    std::atomic<int> held{0};
};

}  // namespace devicescan::host
