#pragma once

#include <cstdint>

namespace qv {

// A reader/writer lock that identifies its holders by thread id; 0 stands for the calling
// thread. Slot order is part of the contract.
class ISyncRWLock {
  public:
    virtual void AcquireShared(std::uint32_t threadId) = 0;
    virtual void ReleaseShared(std::uint32_t threadId) = 0;
    virtual void AcquireExclusive(std::uint32_t threadId) = 0;
    virtual void ReleaseExclusive(std::uint32_t threadId) = 0;

  protected:
    ~ISyncRWLock() = default;
};

}  // namespace qv
