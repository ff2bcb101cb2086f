#pragma once

#include <string>

namespace devicescan::service::utils {

// Asks the storage stack whether the drive of path (only its first character, the letter, is
// used) is really a fixed disk: true when the hot-plug information reports neither removable
// media nor a hot-pluggable device. A drive that cannot be opened or queried counts as not fixed.
// Runs on the window thread. (The name, namespace included, is what the log records carry.)
bool IsFixedDrive(const std::wstring& path);

}  // namespace devicescan::service::utils
