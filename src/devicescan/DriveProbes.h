#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "sdk/StringT.h"

// Platform probes of the device code. All run on the window thread.
namespace utils {

// Asks the storage stack whether the drive of path (only its first character, the letter, is
// used) is really a fixed disk: true when the hot-plug information reports neither removable
// media nor a hot-pluggable device. A drive that cannot be opened or queried counts as not fixed.
bool IsFixedDrive(const std::wstring& path);

// Fills directory with the system directory and a trailing backslash (C:\Windows\system32\).
// False, with the text up to what could be read, when either step fails.
bool GetSystemDirectoryPath(qv::String& directory);

// Whether the system is version 6.1 or later, where the per-thread error mode exists. Asked once
// and remembered; a failed query answers false and is repeated next time.
bool IsOsVersionAtLeast61();

// The same with the caller's cache: 1 at or above 6.1, 0 below, kOsVersionUnknown before the
// first successful query.
inline constexpr std::uint32_t kOsVersionUnknown = 0xFFFFFFFF;
bool IsOsVersionAtLeast61(std::atomic<std::uint32_t>& state);

}  // namespace utils
