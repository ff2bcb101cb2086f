#pragma once

namespace devicescan::host {

// The exit codes of --scan, the convention of command-line scanners.
enum class ScanExitCode : int {
    kClean = 0,  // every scan finished and found nothing
    kFound = 1,  // something was found (even if some file could not be read)
    kError = 2,  // nothing found, but a file, folder or root could not be read, or a scan stopped
};

}  // namespace devicescan::host
