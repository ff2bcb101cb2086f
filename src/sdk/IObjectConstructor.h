#pragma once

#include "sdk/IQvBaseInterface.h"

namespace qv {

// Builds and destroys the objects of one exported class; the registry holds one per name.
class IObjectConstructor {
  public:
    // A new object's root view, or null.
    virtual IQvBaseInterface* Create() = 0;
    // Destroys object if it is of this constructor's class; anything else is left alone.
    virtual void Destroy(IQvBaseInterface* object) = 0;
    // Whether the class hands out one shared instance. Nothing in the module asks.
    virtual bool IsSingleton() = 0;
};

}  // namespace qv
