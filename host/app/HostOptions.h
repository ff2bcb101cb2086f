#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "host/scan/FolderScanner.h"

namespace devicescan::host {

// The host's command line. Options take their value as the next argument or after "="
// (--seconds 5, --seconds=5). Every option is one row of Table() and one field here: the
// parser, --help and the options fuzzer all read the table; a field's initializer is its
// default.
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
    // What one file on disk may cost a scan; the engine's defaults (clamscan's).
    std::uint64_t maxFileSize = scan::FolderScanner::Options{}.maxFileSize;
    std::uint64_t maxScanSize = scan::FolderScanner::Options{}.maxScanSize;
    std::uint64_t maxFiles = scan::FolderScanner::Options{}.maxFiles;
    std::uint32_t maxRecursion = scan::FolderScanner::Options{}.maxRecursion;
    // The quarantine: where files holding a detection are moved (or copied) by scans, and the
    // runs that look after it instead of scanning.
    std::wstring moveTo;
    std::wstring copyTo;
    std::wstring restoreId;       // --restore: put this file back (with --quarantine)
    std::wstring quarantineDir;   // the folder --restore takes it from
    std::wstring listQuarantine;  // --list-quarantine: print this folder's manifest
    // What a scan leaves out (regular expressions; see scan::PathFilter) and what it opens.
    std::vector<std::wstring> excludeFiles;
    std::vector<std::wstring> excludeFolders;
    std::vector<std::wstring> includeFiles;
    bool openArchives = true;
    // What is printed: everything; only detections, warnings, errors and the summary; only
    // errors (see EventPrinter::Level).
    bool infected = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;

    // One option: its name, what value it takes and within which range, where it goes, its line
    // in --help, and whether it means anything in a --scan run (one that does not is refused
    // there).
    struct Row {
        enum class Kind {
            kFlag,     // no value; sets its field
            kFlagOff,  // no value; clears its field
            kNumber,   // a decimal number within [low, high]
            kSize,     // kNumber, or a number of kibibytes, mebibytes or gibibytes: 64K, 200M, 1G
            kText,     // a value that may not be empty
            kList,     // like kText, repeatable: each adds its value
            kPattern,  // like kList, each value a valid scan::PathFilter pattern
        };
        using Field = std::variant<bool HostOptions::*, std::uint32_t HostOptions::*,
                                   std::uint64_t HostOptions::*, std::wstring HostOptions::*,
                                   std::vector<std::wstring> HostOptions::*>;

        const wchar_t* name;
        Kind kind;
        Field field;
        const wchar_t* valueName;  // in --help ("N", "PATH"); empty for flags
        std::uint64_t low;         // kNumber only
        std::uint64_t high;
        bool inScanRun;
        const wchar_t* help;  // the default included; '\n' continues on the next line
    };
    static std::span<const Row> Table();
    // Other spellings of options: a short name and the row's name.
    struct Alias {
        const wchar_t* alias;
        const wchar_t* name;
    };
    static constexpr Alias kAliases[] = {
        {L"-h", L"--help"}, {L"/?", L"--help"}, {L"-i", L"--infected"}};

    // The options of args (the program name not included), or nothing with error set to a
    // one-line reason.
    static std::optional<HostOptions> Parse(const std::vector<std::wstring>& args,
                                            std::wstring& error);
    // The --help text, made from the table.
    static std::wstring Usage();

    // What each scan of a file tree may do and report, from these options.
    scan::FolderScanner::Options EachScan() const;
    // The filter of the --exclude, --exclude-dir and --include patterns (checked by Parse).
    std::shared_ptr<const scan::PathFilter> ScanFilter() const;
};

}  // namespace devicescan::host
