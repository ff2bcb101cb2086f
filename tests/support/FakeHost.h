#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "sdk/IComponentManager.h"
#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/IServiceHost.h"

// The host's side of the service for the tests. Announcements are recorded on the thread that
// makes them and read by a test once that thread has finished with them (SendMessageW returned,
// or the service stopped).
namespace test_support {

using Device = qv::rnsdk::FileScan::IDeviceScanSP::Device;
using qv::rnsdk::FileScan::IDeviceScanEventProducer;

// One announcement, copied during the call.
struct Heard {
    std::wstring event;      // "mounted E:\" or "unmounted E:\"
    Device device;           // a deep copy
    std::uint32_t argument;  // the producer's second argument; 0 for listeners
    DWORD errorMode;         // of the announcing thread
};

// Records what it is told, as the producer plugin or as a listener.
class Recorder : public IDeviceScanEventProducer,
                 public qv::rnsdk::FileScan::IDeviceScanSP::IEvents {
  public:
    std::uint32_t NotifyDeviceMounted(const Device& device, std::uint32_t processId) override {
        return Add(L"mounted ", device, processId);
    }
    std::uint32_t NotifyDeviceUnmounted(const Device& device, std::uint32_t marker) override {
        return Add(L"unmounted ", device, marker);
    }
    int Reserved() override { return 0; }
    int OnDeviceMounted(const Device& device) override {
        if (const std::function<void()> act = std::exchange(onMount, nullptr)) {
            act();
        }
        return Add(L"mounted ", device, 0);
    }
    int OnDeviceUnmounted(const Device& device) override { return Add(L"unmounted ", device, 0); }

    std::vector<std::wstring> Events() const {
        std::vector<std::wstring> events;
        std::ranges::transform(heard, std::back_inserter(events), &Heard::event);
        return events;
    }

    std::vector<Heard> heard;
    // Runs once, as a listener, inside the next mount it hears (on the announcing thread).
    std::function<void()> onMount;

  private:
    int Add(const wchar_t* event, const Device& device, std::uint32_t argument) {
        heard.push_back({event + std::wstring(device.path.GetString()), device, argument,
                         GetThreadErrorMode()});
        return 0;
    }
};

// The service host and its component manager in one: hands out producer under the producer's
// name and identity, or refuses with refusal; has no manager when hasManager is false.
class FakeHost : public qv::IServiceHost, public qv::IComponentManager {
  public:
    std::uint32_t Reserved() override { return 0; }
    qv::IComponentManager* GetComponentManager() override { return hasManager ? this : nullptr; }
    std::uint32_t AcquirePlugin(const wchar_t* name, qv::InterfaceId id, void** plugin) override {
        acquired.push_back(name);
        if (refusal != 0 || !(id == IDeviceScanEventProducer::kId) ||
            std::wstring(name) != L"FileScan.OnDemand.DeviceScanAL") {
            return refusal != 0 ? refusal : ERROR_NOT_FOUND;
        }
        *plugin = static_cast<IDeviceScanEventProducer*>(&producer);
        return 0;
    }
    std::uint32_t ReleasePlugin(const wchar_t* name) override {
        released.push_back(name);
        return 0;
    }

    bool hasManager = true;
    std::uint32_t refusal = 0;
    Recorder producer;
    std::vector<std::wstring> acquired;
    std::vector<std::wstring> released;
};

}  // namespace test_support
