#pragma once

#include <cstdint>

#include "sdk/IComponentManager.h"

namespace qv {

// The host process as the service sees it.
class IServiceHost {
  public:
    // First slot: the host's own business; the module never calls it.
    virtual std::uint32_t Reserved() = 0;
    virtual IComponentManager* GetComponentManager() = 0;
};

}  // namespace qv
