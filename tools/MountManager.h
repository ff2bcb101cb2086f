#pragma once

#include <windows.h>

#include <string_view>

namespace devicescan::tools {

// Defines and removes drive letters at run time through Wine's mount manager device, as Wine
// itself does when a disc or a stick appears. Each call opens the device for its own use and
// returns ERROR_SUCCESS or the Win32 code of the failure. Letters are upper-case drive letters.
//
// The definition only makes the letter point at the directory: it sends no notification.

// Makes letter a drive of the given DRIVE_* type whose root is the Unix directory unixPath
// (UTF-8, as the Unix side names it). An existing definition of the letter is replaced.
DWORD DefineUnixDrive(wchar_t letter, UINT driveType, std::string_view unixPath);

// Removes the letter's definition; succeeds also when the letter was not defined.
DWORD RemoveUnixDrive(wchar_t letter);

}  // namespace devicescan::tools
