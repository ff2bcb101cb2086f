#include "logging/LogRef.h"

#include <atomic>
#include <mutex>
#include <new>

#include "sdk/SpinLock.h"

namespace logging {
namespace {

// Module-wide state, zero when the module is loaded. The pointer and userCount change only
// under instanceLock; userCount is atomic so that LogMessage may read it without the lock.
CLogDLL* sharedInstance = nullptr;
std::atomic<std::int32_t> userCount{0};
constinit qv::SpinLock instanceLock;

}  // namespace

void LogRef::Acquire() noexcept {
    CLogDLL* acquired = nullptr;
    {
        std::lock_guard<qv::SpinLock> lock(instanceLock);
        if (userCount.load(std::memory_order_relaxed) == 0) {
            // Out of memory leaves nothing to write to: no reference is taken.
            sharedInstance = new (std::nothrow) CLogDLL();
            if (sharedInstance == nullptr) {
                return;
            }
        }
        userCount.fetch_add(1, std::memory_order_relaxed);
        acquired = sharedInstance;
    }
    instance = acquired;
    InterlockedIncrement(&count);
}

void LogRef::Release() noexcept {
    instance = nullptr;
    while (InterlockedDecrement(&count) >= 0) {
        std::lock_guard<qv::SpinLock> lock(instanceLock);
        if (userCount.load(std::memory_order_relaxed) > 0) {
            userCount.fetch_sub(1, std::memory_order_relaxed);
        }
        if (userCount.load(std::memory_order_relaxed) == 0 && sharedInstance != nullptr) {
            delete sharedInstance;
            sharedInstance = nullptr;
        }
    }
    InterlockedIncrement(&count);
}

CLogDLL* LogRef::Get() noexcept {
    if (instance == nullptr) {
        Acquire();
    }
    return instance;
}

std::int32_t LogRef::UserCount() noexcept {
    return userCount.load(std::memory_order_relaxed);
}

}  // namespace logging
