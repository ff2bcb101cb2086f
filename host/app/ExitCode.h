#pragma once

namespace devicescan::host {

// The process exit codes, one per class of failure, so that a script can tell what went wrong
// without reading the messages. Documented in README.md.
enum class ExitCode : int {
    kSuccess = 0,          // ran and stopped cleanly (quit, end of input, Ctrl-C, --seconds)
    kHostFailure = 1,      // the host's own resources (thread, event) could not be had
    kUsage = 2,            // unknown option or bad value
    kDatabase = 2,         // a signature database could not be loaded (before the module is)
    kModuleNotLoaded = 3,  // the module file is missing or is not a loadable DLL
    kExportMissing = 4,    // QvCreateObject or QvDestroyObject is not exported
    kCreateFailed = 5,     // QvCreateObject failed, or the object lacks a view the host needs
    kRegisterFailed = 6,   // IDeviceScanSP::Register refused the listener
    kInitFailed = 7,       // IServPlugin::Init returned a code other than 0
    kStartFailed = 8,      // IServPlugin::Start returned a code other than 0
    kRestartFailed = 9,    // the service lost its window and could not be started again
};

}  // namespace devicescan::host
