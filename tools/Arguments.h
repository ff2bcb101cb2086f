#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

namespace devicescan::tools {

// The values the command line names: drive letters, drive types, unit masks, event codes.

// "e", "E", "e:" or "E:"; returns the upper-case letter.
std::optional<wchar_t> ParseDriveLetter(std::wstring_view text);

// removable, fixed, network (or remote), cdrom, ramdisk: the DRIVE_* value.
std::optional<UINT> ParseDriveType(std::wstring_view name);

// The name of a DRIVE_* value as the command line spells it; "unknown" and "none" for 0 and 1.
const char* DriveTypeName(UINT type);

// A decimal or 0x-prefixed hexadecimal number that fits in 32 bits.
std::optional<DWORD> ParseNumber(std::wstring_view text);

// A unit mask: either drive letters ("e", "efg", "E:") or a number ("0x70", "112").
std::optional<DWORD> ParseUnitMask(std::wstring_view text);

// arrival, removal, or any WM_DEVICECHANGE code as a number.
std::optional<WPARAM> ParseDeviceEvent(std::wstring_view text);

// The unit-mask bit of an upper-case drive letter (bit 0 is A:).
inline DWORD UnitMaskOf(wchar_t letter) {
    return DWORD{1} << (letter - L'A');
}

}  // namespace devicescan::tools
