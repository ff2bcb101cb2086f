#pragma once

#include <cstdint>
#include <string>

#include "host/hosting/ModuleLoader.h"
#include "host/output/EventPrinter.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/IServPlugin.h"
#include "sdk/IServiceHost.h"

namespace devicescan::host {

// One service object of the module and how far its life cycle has come. Shutdown (also run by
// the destructor) undoes exactly what was done, in reverse: Stop after a successful Start,
// UnInit after a successful Init (a failed Start leaves that to the host; a failed Init has
// already run it), Unregister after a successful Register, and QvDestroyObject with the
// object's root view.
//
// Threads: the main thread only; the service's life-cycle operations must not overlap.
class ServiceSession {
  public:
    static constexpr const wchar_t* kObjectName = L"FileScan.OnDemand.DeviceScanSP";

    ServiceSession(const ModuleLoader& module, EventPrinter printer);
    ServiceSession(const ServiceSession&) = delete;
    ServiceSession& operator=(const ServiceSession&) = delete;
    ~ServiceSession() { Shutdown(); }

    // Creates the object for the IServPlugin identity and asks it for its IDeviceScanSP view and
    // its root view. False, with failure describing why, when any of them is missing; an object
    // that was created is destroyed again.
    bool Create(std::wstring& failure);
    std::uint32_t Register(qv::rnsdk::FileScan::IDeviceScanSP::IEvents* listener);
    std::uint32_t Init(qv::IServiceHost* serviceHost);
    std::uint32_t Start();
    // Stop, UnInit, the listener registered afresh, Init and Start: a service whose window has
    // gone comes back with a new window thread. 0, or the first failing code with step naming
    // the call ("Register", "Init", "Start").
    std::uint32_t Restart(qv::IServiceHost* serviceHost, std::wstring& step);
    void Shutdown();

  private:
    void StopAndUnInit();
    void Destroy();

    const ModuleLoader& module;
    EventPrinter printer;
    qv::IServPlugin* plugin = nullptr;
    qv::rnsdk::FileScan::IDeviceScanSP* deviceScan = nullptr;
    qv::IQvBaseInterface* root = nullptr;
    qv::rnsdk::FileScan::IDeviceScanSP::IEvents* registered = nullptr;
    bool initialised = false;
    bool started = false;
};

}  // namespace devicescan::host
