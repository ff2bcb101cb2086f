// devicescan-volume: plugs and unplugs volumes under Wine the way the system does, for the demo
// and the end-to-end tests. See README.md beside this file.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <vector>

#include "tools/VolumeCommand.h"

int wmain(int argc, wchar_t** argv) {
    // Plain "\n" line ends: the reports are read by Unix shell scripts.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::wstring_view> arguments(argv + 1, argv + argc);
    return devicescan::tools::RunVolumeCommand(arguments);
}
