#include "log/ThreadDepth.h"

#include <algorithm>
#include <cstdint>

namespace devicescan::logdll {
namespace {

constexpr std::int32_t kDeepestLevel = 0xFFFF;

}  // namespace

std::uint32_t ThreadDepth::Advance(std::uint32_t depth) noexcept {
    if (slot == TLS_OUT_OF_INDEXES) {
        return 0;
    }
    const auto current =
        static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(TlsGetValue(slot)));
    const auto step = static_cast<std::int16_t>(static_cast<std::uint16_t>(depth));
    const std::int32_t next = std::clamp(current + step, 0, kDeepestLevel);
    if (step != 0) {
        TlsSetValue(slot, reinterpret_cast<void*>(static_cast<std::intptr_t>(next)));
    }
    return static_cast<std::uint32_t>(step > 0 ? current : next);
}

}  // namespace devicescan::logdll
