// devicescan-volume: plugs and unplugs volumes under Wine the way the system does, for the demo
// and the end-to-end tests. See README.md beside this file.
#include <vector>

#include "VolumeCommand.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring_view> arguments(argv + 1, argv + argc);
    return qv::tools::RunVolumeCommand(arguments);
}
