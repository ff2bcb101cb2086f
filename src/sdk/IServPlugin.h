#pragma once

#include <cstdint>

#include "sdk/IQvBaseInterface.h"
#include "sdk/IServiceHost.h"

namespace qv {

// The service-plugin life cycle the host drives: Init, Start, Stop, UnInit.
class IServPlugin : public IQvBaseInterface {
  public:
    // {414E2323-04D0-9833-7641-887C5D8252E9}
    static constexpr InterfaceId kId{0x983304d0414e2323ull, 0xe952825d7c884176ull};

    virtual std::uint32_t Init(IServiceHost* host) = 0;
    virtual void UnInit() = 0;
    virtual std::uint32_t Start() = 0;
    virtual void Stop() = 0;
};

}  // namespace qv
