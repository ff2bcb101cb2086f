#pragma once

#include <cstdint>
#include <string>

namespace devicescan::host {

// What tells a mounted volume from another that later takes its letter: the serial number of
// the volume a path lies on, read when the volume is announced. Any process in the session can
// broadcast a removal, so a removal is believed only when the path no longer answers with the
// serial number it had.
//
// Threads: a value; Read calls the file system on the caller's thread.
class VolumeIdentity {
  public:
    // The identity of the volume under path (a root such as E:\ or any folder on it); unknown
    // when the path does not answer as a folder or its volume gives no serial number.
    static VolumeIdentity Read(const std::wstring& path);

    bool IsKnown() const noexcept { return known; }
    std::uint32_t Serial() const noexcept { return serial; }

    // Whether path still answers as this volume: known both now and then, same serial number.
    bool StillAnswers(const std::wstring& path) const;

  private:
    bool known = false;
    std::uint32_t serial = 0;
};

}  // namespace devicescan::host
