#pragma once

#include <cstdint>

#include "sdk/IServiceHost.h"

namespace devicescan::host {

// The host process as the service sees it: the way to the component manager.
class ServiceHost final : public qv::IServiceHost {
  public:
    explicit ServiceHost(qv::IComponentManager* manager) noexcept : manager(manager) {}

    // The first slot has no meaning in this host; the service does not call it.
    std::uint32_t Reserved() override { return 0; }
    qv::IComponentManager* GetComponentManager() override { return manager; }

  private:
    qv::IComponentManager* manager;
};

}  // namespace devicescan::host
