#pragma once

namespace qv {

// Gives a lock of the SDK the standard lock names (lock, unlock, lock_shared, unlock_shared) for
// the calling thread, so std::lock_guard and std::shared_lock can hold it. Adds no member and no
// virtual operation: the virtual table stays the lock's own. The name, reserved-looking as it
// is, is part of the interface the SDK publishes and is kept as published.
template <typename LockT>
class __Event_LockAdaptor : public LockT {
  public:
    void lock() { this->AcquireExclusive(0); }
    void unlock() noexcept { this->ReleaseExclusive(0); }
    void lock_shared() { this->AcquireShared(0); }
    void unlock_shared() noexcept { this->ReleaseShared(0); }
};

}  // namespace qv
