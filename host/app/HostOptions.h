#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devicescan::host {

// The host's command line. Options take their value as the next argument or after "="
// (--seconds 5, --seconds=5).
struct HostOptions {
    std::wstring modulePath;  // empty: devicescan.dll beside the host's executable
    bool json = false;
    std::uint32_t seconds = 0;  // 0: no time limit
    bool readStdin = true;
    bool scan = true;
    std::uint64_t progressEvery = 1000;   // files between two progress lines; 0: none
    std::uint32_t scanPauseMs = 0;        // pause after each scanned file
    std::vector<std::wstring> databases;  // --db: signature database files and folders
    std::vector<std::wstring> scanPaths;  // --scan: scan these and exit, without the module
    std::uint32_t scanThreads = 0;        // scans at once; 0: one per processor
    bool scanPresent = false;  // at start and after each restart, scan the volumes already there
    bool verbose = false;
    bool help = false;

    // The options of args (the program name not included), or nothing with error set to a
    // one-line reason.
    static std::optional<HostOptions> Parse(const std::vector<std::wstring>& args,
                                            std::wstring& error);
    static const wchar_t* Usage();
};

}  // namespace devicescan::host
