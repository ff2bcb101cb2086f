#pragma once

#include "sdk/StringT.h"

namespace devicescan::service {

// Fills directory with the system directory and a trailing backslash (C:\Windows\system32\).
// False, with the text up to what could be read, when either step fails.
bool GetSystemDirectoryPath(qv::String& directory);

}  // namespace devicescan::service
