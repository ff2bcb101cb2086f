#include "log/LocalClock.h"

#include "sdk/ProcAddress.h"

namespace devicescan::logdll {
namespace {

constexpr std::int64_t kTicksPerMinute = 60LL * 10'000'000;

std::int64_t Ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) |
                                     time.dwLowDateTime);
}

FILETIME FromTicks(std::int64_t ticks) {
    const auto bits = static_cast<std::uint64_t>(ticks);
    return {static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
}

}  // namespace

LocalClock::LocalClock() {
    readClock = qv::GetProcAddressAs<ReadClockFunction>(GetModuleHandleW(L"kernel32.dll"),
                                                        "GetSystemTimePreciseAsFileTime");
    if (readClock == nullptr) {
        readClock = &GetSystemTimeAsFileTime;
    }
}

SYSTEMTIME LocalClock::Now() noexcept {
    FILETIME utc;
    readClock(&utc);
    const std::int64_t ticks = Ticks(utc);
    const auto minute = static_cast<std::uint32_t>(ticks / kTicksPerMinute);
    std::uint64_t cached = offsetOfMinute.load(std::memory_order_relaxed);
    if (static_cast<std::uint32_t>(cached >> 32) != minute) {
        FILETIME local;
        FileTimeToLocalFileTime(&utc, &local);
        const auto offsetMinutes =
            static_cast<std::int32_t>((Ticks(local) - ticks) / kTicksPerMinute);
        cached = (std::uint64_t{minute} << 32) | static_cast<std::uint32_t>(offsetMinutes);
        offsetOfMinute.store(cached, std::memory_order_relaxed);
    }
    const auto offsetMinutes = static_cast<std::int32_t>(static_cast<std::uint32_t>(cached));
    const FILETIME local = FromTicks(ticks + offsetMinutes * kTicksPerMinute);
    SYSTEMTIME time{};
    FileTimeToSystemTime(&local, &time);
    return time;
}

}  // namespace devicescan::logdll
