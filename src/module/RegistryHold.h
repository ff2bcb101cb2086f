#pragma once

#include <windows.h>

#include "module/ObjectRegistry.h"

namespace qv::module {

// A counted reference on the process-wide registry, owned by scope: whatever it holds is given
// back when it goes out of scope, normally or during unwinding.
class RegistryHold {
  public:
    RegistryHold() = default;
    ~RegistryHold() { GiveBack(); }
    RegistryHold(const RegistryHold&) = delete;
    RegistryHold& operator=(const RegistryHold&) = delete;

    // Takes one more hold; the registry stays alive at least until GiveBack.
    void Take() {
        registry = ObjectRegistry::TakeHold();
        InterlockedIncrement(&count);
    }

    // Gives back every hold this object owns.
    void GiveBack() noexcept {
        registry = nullptr;
        while (InterlockedDecrement(&count) >= 0) {
            ObjectRegistry::GiveHoldBack();
        }
        InterlockedIncrement(&count);
    }

    ObjectRegistry* Registry() const noexcept { return registry; }

  private:
    ObjectRegistry* registry = nullptr;
    volatile LONG count = 0;
};

}  // namespace qv::module
