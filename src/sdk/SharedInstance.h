#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "sdk/SpinLock.h"

namespace qv {

// One instance of T shared by the whole module (each binary that links this code has its own),
// kept alive by counted holds: the first hold creates it with Make, giving back the last one
// destroys it. Make may answer null (out of memory): then no hold is taken; it may also throw,
// and then nothing changes.
//
// Threads: any. lock guards the pointer and the count and is held while the instance is created
// and destroyed; the count is atomic only so that HoldCount may be read without the lock.
template <typename T, T* (*Make)()>
class SharedInstance {
  public:
    SharedInstance() = delete;

    // Takes one hold and returns the instance it keeps alive, or null when it could not be made.
    static T* TakeHold() {
        std::lock_guard<SpinLock> guard(lock);
        if (holds.load(std::memory_order_relaxed) == 0) {
            instance = Make();
            if (instance == nullptr) {
                return nullptr;
            }
        }
        holds.fetch_add(1, std::memory_order_relaxed);
        return instance;
    }

    // Gives one hold back; the last one destroys the instance. Extra calls do nothing.
    static void GiveHoldBack() noexcept {
        std::lock_guard<SpinLock> guard(lock);
        if (holds.load(std::memory_order_relaxed) > 0) {
            holds.fetch_sub(1, std::memory_order_relaxed);
        }
        if (holds.load(std::memory_order_relaxed) == 0 && instance != nullptr) {
            delete instance;
            instance = nullptr;
        }
    }

    // The instance while one exists, else null.
    static T* Current() noexcept {
        std::lock_guard<SpinLock> guard(lock);
        return instance;
    }

    // Holds outstanding in the whole module; read without the lock.
    static std::int32_t HoldCount() noexcept { return holds.load(std::memory_order_relaxed); }

  private:
    // Zero when the module is loaded, before any constructor runs.
    static inline T* instance = nullptr;
    static inline std::atomic<std::int32_t> holds{0};
    static constinit inline SpinLock lock;
};

// The holds one owner keeps on a SharedInstance, all given back when it goes out of scope.
//
// Threads: Take and GiveBack may run on different threads; count changes only atomically.
template <typename Shared, typename T>
class SharedHold {
  public:
    SharedHold() = default;
    ~SharedHold() { GiveBack(); }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;

    // Takes one more hold; the instance stays alive at least until GiveBack. Null, with no hold
    // taken, when the instance could not be made.
    T* Take() {
        T* taken = Shared::TakeHold();
        if (taken == nullptr) {
            return nullptr;
        }
        held = taken;
        InterlockedIncrement(&count);
        return taken;
    }

    // Gives back every hold this owner has. Each pass takes one from count and gives one hold
    // back while the result is still zero or more, that is while there was a hold left to give;
    // the pass that drives count below zero finds none, and the increment after the loop undoes
    // that last step, leaving count at zero. Changing count before looking at it means no hold
    // is given back twice even when two threads give back at once.
    void GiveBack() noexcept {
        held = nullptr;
        while (InterlockedDecrement(&count) >= 0) {
            Shared::GiveHoldBack();
        }
        InterlockedIncrement(&count);
    }

    // The instance while this owner holds it, else null.
    T* Held() const noexcept { return held; }

  private:
    T* held = nullptr;
    volatile LONG count = 0;
};

}  // namespace qv
