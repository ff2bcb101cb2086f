#pragma once

#include <string_view>
#include <vector>

namespace devicescan::tools {

// The tool's exit codes.
enum ExitCode : int {
    kExitDone = 0,
    kExitSystemFailure = 1,   // the mount manager or the broadcast failed
    kExitBadCommandLine = 2,  // unknown command, bad letter, type, mask or number, relative path
    kExitLetterState = 3,     // plug: the letter is taken; unplug, status: it is not defined
    kExitNoDirectory = 4,     // plug: nothing is at the Unix path, or it is no directory
};

// Runs one command line (the arguments after the program name), reporting on stdout and stderr.
int RunVolumeCommand(const std::vector<std::wstring_view>& arguments);

}  // namespace devicescan::tools
