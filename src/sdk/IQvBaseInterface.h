#pragma once

#include "sdk/InterfaceId.h"

namespace qv {

// Root of every object handed out across the module boundary. No destructor is declared: objects
// are never deleted through this view, and nothing is reference counted.
class IQvBaseInterface {
  public:
    // {66551AB3-FCA3-BC90-5F42-C5F792E24B51}
    static constexpr InterfaceId kId{0xbc90fca366551ab3ull, 0x514be292f7c5425full};

    // The view of this object for the identity, or null. No side effect.
    virtual void* QueryInterface(InterfaceId id) = 0;
};

}  // namespace qv
