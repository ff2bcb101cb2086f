#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace devicescan::logdll {

// The local date and time for log lines, at a fraction of GetLocalTime's cost: the system clock
// plus the local offset, which is looked up again in the first call of every minute, so that a
// change of the offset (daylight saving time starts and ends on a whole minute) shows from that
// minute on. Any thread may call Now at any time.
class LocalClock {
  public:
    LocalClock();

    SYSTEMTIME Now() noexcept;

  private:
    using ReadClockFunction = void(WINAPI*)(FILETIME*);

    // The precise clock where the system has it (Windows 8 and later), the plain one before.
    ReadClockFunction readClock;
    // The minute (of the system clock) the offset was looked up in, in the high half; the
    // offset in minutes in the low half. 0 until the first call.
    std::atomic<std::uint64_t> offsetOfMinute{0};
};

}  // namespace devicescan::logdll
