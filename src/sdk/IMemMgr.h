#pragma once

#include <cstddef>

namespace qv {

// Memory behind string buffers. Slot order is part of the string's contract.
class IMemMgr {
  public:
    virtual void* Allocate(std::size_t bytes) = 0;
    // Resizes block (null asks for a new one); on failure returns null and leaves block intact.
    virtual void* Reallocate(void* block, std::size_t bytes) = 0;
    virtual void Free(void* block) = 0;
    // Called every time a string gives its buffer back, after Free.
    virtual void Detach() = 0;
};

}  // namespace qv
