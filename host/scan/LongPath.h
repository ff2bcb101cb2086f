#pragma once

#include <string>

namespace devicescan::scan {

// The form of path handed to the file system: absolute, with the \\?\ prefix that lifts the
// 260-character limit for drive paths (\\?\E:\...) and UNC paths (\\?\UNC\server\share\...).
// A path that already has the prefix, or that cannot be made absolute, comes back as it is.
std::wstring LongPathOf(const std::wstring& path);

}  // namespace devicescan::scan
