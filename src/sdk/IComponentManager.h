#pragma once

#include <cstdint>

#include "sdk/InterfaceId.h"

namespace qv {

// The host's plugin manager, from which the service acquires its producer plugin.
class IComponentManager {
  public:
    // 0 when the plugin was handed out into *plugin.
    virtual std::uint32_t AcquirePlugin(const wchar_t* name, InterfaceId id, void** plugin) = 0;
    // Gives a plugin back; the result is not looked at.
    virtual std::uint32_t ReleasePlugin(const wchar_t* name) = 0;
};

}  // namespace qv
