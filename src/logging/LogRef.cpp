#include "logging/LogRef.h"

#include <new>

namespace devicescan::logging {

CLogDLL* LogRef::Load() noexcept {
    return new (std::nothrow) CLogDLL();
}

}  // namespace devicescan::logging
