#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "IComponentManager.h"
#include "IDeviceScanEventProducer.h"
#include "IDeviceScanSP.h"
#include "IServiceHost.h"

// The host's side of the service for the unit tests: a component manager that hands out (or
// refuses) a recording producer, the service host that owns it, and recording listeners.
namespace fakes {

using Device = qv::rnsdk::FileScan::IDeviceScanSP::Device;

// One announcement as a producer or a listener saw it, copied during the call.
struct Announcement {
    std::wstring event;  // "mounted" or "unmounted"
    std::int32_t type;
    std::wstring path;
    std::wstring remote;
    std::uint64_t fullSize;
    std::uint64_t storedSize;
    std::uint32_t sessionId;
    std::uint32_t argument;  // the producer's second argument; 0 for listeners
    DWORD threadId;
    long sequence;  // order of all announcements, producers and listeners together
};

inline long NextAnnouncementSequence() {
    static std::atomic<long> counter{0};
    return ++counter;
}

class AnnouncementLog {
  public:
    void Add(const wchar_t* event, const Device& device, std::uint32_t argument) {
        std::lock_guard<std::mutex> guard(lock);
        entries.push_back({event, device.type, device.path.GetString(), device.remote.GetString(),
                           device.fullSize, device.storedSize, device.sessionId, argument,
                           GetCurrentThreadId(), NextAnnouncementSequence()});
    }
    std::vector<Announcement> Entries() const {
        std::lock_guard<std::mutex> guard(lock);
        return entries;
    }

  private:
    mutable std::mutex lock;
    std::vector<Announcement> entries;
};

class FakeProducer : public qv::rnsdk::FileScan::IDeviceScanEventProducer {
  public:
    std::uint32_t NotifyDeviceMounted(const Device& device, std::uint32_t processId) override {
        log.Add(L"mounted", device, processId);
        return 0;
    }
    std::uint32_t NotifyDeviceUnmounted(const Device& device, std::uint32_t marker) override {
        log.Add(L"unmounted", device, marker);
        return 0;
    }
    AnnouncementLog log;
};

class FakeComponentManager : public qv::IComponentManager {
  public:
    std::uint32_t AcquirePlugin(const wchar_t* name, qv::InterfaceId id, void** plugin) override {
        acquired.push_back(name);
        lastId = id;
        if (refusal != 0) {
            return refusal;
        }
        *plugin = static_cast<qv::rnsdk::FileScan::IDeviceScanEventProducer*>(&producer);
        return 0;
    }
    std::uint32_t ReleasePlugin(const wchar_t* name) override {
        released.push_back(name);
        return 0;
    }

    std::uint32_t refusal = 0;  // non-zero: AcquirePlugin refuses with this code
    FakeProducer producer;
    std::vector<std::wstring> acquired;
    std::vector<std::wstring> released;
    qv::InterfaceId lastId{};
};

class FakeServiceHost : public qv::IServiceHost {
  public:
    std::uint32_t Reserved() override { return 0; }
    qv::IComponentManager* GetComponentManager() override { return manager; }

    qv::IComponentManager* manager = nullptr;
};

class RecordingListener : public qv::rnsdk::FileScan::IDeviceScanSP::IEvents {
  public:
    explicit RecordingListener(int result = 0) : result(result) {}
    int Reserved() override { return 0; }
    int OnDeviceMounted(const Device& device) override {
        log.Add(L"mounted", device, 0);
        return result;
    }
    int OnDeviceUnmounted(const Device& device) override {
        log.Add(L"unmounted", device, 0);
        return result;
    }

    AnnouncementLog log;
    int result;
};

}  // namespace fakes
