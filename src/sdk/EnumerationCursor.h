#pragma once

#include "sdk/SynchronyzedObjectContainer.h"

namespace qv {

// The state of one walk over a container's items: allocated per raise of an Event, from Begin to
// End, while the container is held shared.
template <typename T>
struct EnumerationCursor {
    const T* position;                          // the next element to give
    SynchronyzedObjectContainer<T>* container;  // whose items, and whose lock is held
};

}  // namespace qv
