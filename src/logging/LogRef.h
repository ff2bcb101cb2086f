#pragma once

#include <windows.h>

#include <cstdint>

#include "logging/CLogDLL.h"
#include "sdk/SharedInstance.h"

namespace devicescan::logging {

// A counted reference on the process-wide CLogDLL, given back when it goes out of scope. The
// first reference taken in the process creates the instance (loading log.dll); giving back the
// last one destroys it (unloading the library).
//
// Threads: any thread may take and give back references; the shared instance is created and
// destroyed under its spin lock (see qv::SharedInstance), so the library is loaded and unloaded
// while that lock is held. Records are written outside the lock: a writer holds a reference, so
// the instance cannot go away under it.
class LogRef {
  public:
    LogRef() = default;
    LogRef(const LogRef&) = delete;
    LogRef& operator=(const LogRef&) = delete;

    // Takes one reference on the shared instance, creating it when nobody holds one.
    void Acquire() noexcept { hold.Take(); }
    // Gives back every reference this LogRef holds.
    void Release() noexcept { hold.GiveBack(); }
    // The shared instance; takes a reference first when this LogRef holds none. Null only when
    // the instance could not be allocated.
    CLogDLL* Get() noexcept {
        if (hold.Held() == nullptr) {
            hold.Take();
        }
        return hold.Held();
    }

    // References held by all LogRefs of this module together; read without the lock.
    static std::int32_t UserCount() noexcept { return SharedLog::HoldCount(); }

  private:
    // Out of memory leaves nothing to write to: no reference is taken.
    static CLogDLL* Load() noexcept;

    using SharedLog = qv::SharedInstance<CLogDLL, &LogRef::Load>;
    qv::SharedHold<SharedLog, CLogDLL> hold;
};

}  // namespace devicescan::logging
