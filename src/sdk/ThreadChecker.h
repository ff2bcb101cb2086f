#pragma once

#include <windows.h>

#include <atomic>

#include "sdk/FatalError.h"

namespace qv {

// Checks at run time what a class comment says about threads: that the calls it guards all come
// from one thread. It binds to the first thread that calls Check (after construction or Detach)
// and raises the fatal error when another thread calls. Compiled in where DEVICESCAN_THREAD_CHECKS
// is defined (debug builds, and every build that has the tests); elsewhere it is empty.
// The definition is the same in every file of a build (the build sets it for every target), so
// objects that hold a checker have one layout.
class ThreadChecker {
  public:
#if defined(DEVICESCAN_THREAD_CHECKS)
    // what: the rule broken, for the fatal error's line.
    void Check(const char* what) const noexcept {
        DWORD owner = 0;
        const DWORD self = GetCurrentThreadId();
        if (!bound.compare_exchange_strong(owner, self) && owner != self) {
            RaiseFatalError(what);
        }
    }
    // The next thread to call Check becomes the owner (a new thread takes over the work).
    void Detach() noexcept {
        bound = 0;
    }

  private:
    mutable std::atomic<DWORD> bound{0};  // 0: no owner yet (no thread has the id 0)
#else
    void Check(const char*) const noexcept {}
    void Detach() noexcept {}
#endif
};

}  // namespace qv
