#pragma once

#include <cstdlib>

#include "sdk/IMemMgr.h"

namespace qv {

// The heap manager of every string in the module: the C runtime heap, no state of its own, so
// strings on different threads may use it at once.
class StringMemMgr final : public IMemMgr {
  public:
    constexpr StringMemMgr() = default;

    void* Allocate(std::size_t bytes) override { return std::malloc(bytes); }
    void* Reallocate(void* block, std::size_t bytes) override { return std::realloc(block, bytes); }
    void Free(void* block) override { std::free(block); }
    void Detach() override {}

    // The one default manager of this binary. Constant-initialised, so it exists before any
    // static string is built and after the last one is destroyed.
    static IMemMgr* Default() noexcept { return &defaultManager; }

  private:
    static constinit StringMemMgr defaultManager;
};

inline constinit StringMemMgr StringMemMgr::defaultManager{};

}  // namespace qv
