#pragma once

#include <memory>

namespace qv {

// Destroys an enumerator through its own Destroy slot (enumerators are made by the map and delete
// themselves).
struct EnumDestroyer {
    template <typename EnumT>
    void operator()(EnumT* enumerator) const noexcept {
        enumerator->Destroy();
    }
};

// Owns an enumerator made by IMap::GetEnum or IMap::GetConstEnum; null is allowed.
template <typename EnumT>
using EnumPtr = std::unique_ptr<EnumT, EnumDestroyer>;

}  // namespace qv
