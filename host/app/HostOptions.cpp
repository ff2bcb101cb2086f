#include "host/app/HostOptions.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <type_traits>
#include <utility>

#include "host/orchestration/VolumeScanner.h"
#include "host/scan/PathFilter.h"

namespace devicescan::host {

namespace {

using Row = HostOptions::Row;
using Kind = Row::Kind;

constexpr std::uint64_t kAny = std::numeric_limits<std::uint64_t>::max();

// The options, in the order --help lists them. A new option is one row here and its field.
const Row kTable[] = {
    {L"--module", Kind::kText, &HostOptions::modulePath, L"PATH", 0, 0, false,
     L"the module to load (default: devicescan.dll beside this program)"},
    {L"--json", Kind::kFlag, &HostOptions::json, L"", 0, 0, true,
     L"one JSON object per line instead of readable lines"},
    {L"--seconds", Kind::kNumber, &HostOptions::seconds, L"N", 1, 100000000, true,
     L"stop after N seconds"},
    {L"--no-stdin", Kind::kFlagOff, &HostOptions::readStdin, L"", 0, 0, false,
     L"do not read standard input (stop on Ctrl-C or --seconds only)"},
    {L"--no-scan", Kind::kFlagOff, &HostOptions::scan, L"", 0, 0, false,
     L"do not scan mounted volumes"},
    {L"--db", Kind::kList, &HostOptions::databases, L"PATH", 0, 0, true,
     L"a signature database (.hdb, .hsb, .sha256, .txt) or a folder of\nthem; repeatable"},
    {L"--scan", Kind::kList, &HostOptions::scanPaths, L"PATH", 0, 0, true,
     L"scan PATH without loading the module, then exit (0: nothing\nfound, 1: something found, "
     L"2: an error); repeatable"},
    {L"--scan-threads", Kind::kNumber, &HostOptions::scanThreads, L"N", 1,
     VolumeScanner::kMaxThreads, true, L"scans that run at once (default: one per processor)"},
    {L"--scan-present", Kind::kFlag, &HostOptions::scanPresent, L"", 0, 0, false,
     L"also scan the volumes already there at start and after a restart"},
    {L"--progress", Kind::kNumber, &HostOptions::progressEvery, L"N", 0, kAny, true,
     L"report scan progress every N files (default 1000, 0: never)"},
    {L"--max-filesize", Kind::kSize, &HostOptions::maxFileSize, L"SIZE", 0, kAny, true,
     L"a larger file or archive member is not checked (default 100M;\n0: no limit)"},
    {L"--max-scansize", Kind::kSize, &HostOptions::maxScanSize, L"SIZE", 0, kAny, true,
     L"bytes unpacked out of one file's archives at most (default 400M;\n0: no limit)"},
    {L"--max-files", Kind::kNumber, &HostOptions::maxFiles, L"N", 0, kAny, true,
     L"archive members checked in one file at most (default 10000;\n0: no limit)"},
    {L"--max-recursion", Kind::kNumber, &HostOptions::maxRecursion, L"N", 0, 1000, true,
     L"archives within archives opened, levels at most (default 17;\n0: no limit)"},
    {L"--exclude", Kind::kPattern, &HostOptions::excludeFiles, L"REGEX", 0, 0, true,
     L"do not check files whose full path matches REGEX (case-insensitive,\nanywhere in the "
     L"path); repeatable"},
    {L"--exclude-dir", Kind::kPattern, &HostOptions::excludeFolders, L"REGEX", 0, 0, true,
     L"do not enter folders whose full path matches REGEX; repeatable"},
    {L"--include", Kind::kPattern, &HostOptions::includeFiles, L"REGEX", 0, 0, true,
     L"check only files whose full path matches REGEX; repeatable"},
    {L"--no-archives", Kind::kFlagOff, &HostOptions::openArchives, L"", 0, 0, true,
     L"do not open archives (check them as plain files)"},
    {L"--infected", Kind::kFlag, &HostOptions::infected, L"", 0, 0, true,
     L"print only detections, warnings, errors and the summary (also -i)"},
    {L"--quiet", Kind::kFlag, &HostOptions::quiet, L"", 0, 0, true, L"print only errors"},
    {L"--scan-pause", Kind::kNumber, &HostOptions::scanPauseMs, L"MS", 0, 60000, true,
     L"pause MS milliseconds after each scanned file (to watch a scan)"},
    {L"--move", Kind::kText, &HostOptions::moveTo, L"DIR", 0, 0, true,
     L"move each file holding a detection into the quarantine folder DIR\n(proven copy, manifest, "
     L"then the original deleted)"},
    {L"--copy", Kind::kText, &HostOptions::copyTo, L"DIR", 0, 0, true,
     L"like --move, but leave the original where it is"},
    {L"--restore", Kind::kText, &HostOptions::restoreId, L"ID", 0, 0, false,
     L"put the quarantined file ID back where it was (with --quarantine),\nthen exit "
     L"(0: restored, 2: refused)"},
    {L"--quarantine", Kind::kText, &HostOptions::quarantineDir, L"DIR", 0, 0, false,
     L"the quarantine folder that --restore takes the file from"},
    {L"--list-quarantine", Kind::kText, &HostOptions::listQuarantine, L"DIR", 0, 0, false,
     L"print the manifest of the quarantine folder DIR, then exit"},
    {L"--verbose", Kind::kFlag, &HostOptions::verbose, L"", 0, 0, true,
     L"trace the calls between host and module on stderr"},
    {L"--help", Kind::kFlag, &HostOptions::help, L"", 0, 0, true, L"show this text"},
};

// A decimal number without sign, within [low, high]; for a size, optionally followed by K, M or
// G (binary multiples, as clamscan reads them).
bool ParseNumber(std::wstring text, const Row& row, std::uint64_t& value) {
    unsigned shift = 0;
    if (row.kind == Kind::kSize && !text.empty()) {
        const wchar_t unit = text.back();
        shift = unit == L'K' || unit == L'k'   ? 10
                : unit == L'M' || unit == L'm' ? 20
                : unit == L'G' || unit == L'g' ? 30
                                               : 0;
        if (shift != 0) {
            text.pop_back();
        }
    }
    if (text.empty() || text.size() > 20) {
        return false;
    }
    std::uint64_t result = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        const std::uint64_t digit = static_cast<std::uint64_t>(c - L'0');
        if (result > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return false;
        }
        result = result * 10 + digit;
    }
    if (result > (std::numeric_limits<std::uint64_t>::max() >> shift)) {
        return false;
    }
    result <<= shift;
    if (result < row.low || result > row.high) {
        return false;
    }
    value = result;
    return true;
}

const Row* Find(const std::wstring& name) {
    std::wstring wanted = name;
    for (const HostOptions::Alias& alias : HostOptions::kAliases) {
        wanted = name == alias.alias ? alias.name : wanted;
    }
    for (const Row& row : kTable) {
        if (wanted == row.name) {
            return &row;
        }
    }
    return nullptr;
}

class Parser {
  public:
    Parser(const std::vector<std::wstring>& args, std::wstring& error) : args(args), error(error) {}

    std::optional<HostOptions> Run() {
        for (next = 0; next < args.size();) {
            if (!Option(args[next++])) {
                return std::nullopt;
            }
        }
        if (!options.scanPaths.empty() && outsideScanRun != nullptr) {
            error = std::wstring(outsideScanRun) + L" means nothing with --scan";
            return std::nullopt;
        }
        if (!options.moveTo.empty() && !options.copyTo.empty()) {
            error = L"--move and --copy cannot both be given";
            return std::nullopt;
        }
        if (options.restoreId.empty() != options.quarantineDir.empty()) {
            error = L"--restore and --quarantine go together";
            return std::nullopt;
        }
        return options;
    }

  private:
    bool Option(const std::wstring& arg) {
        const std::size_t equals = arg.find(L'=');
        name = arg.substr(0, equals);
        inlineValue.reset();
        if (equals != std::wstring::npos) {
            inlineValue = arg.substr(equals + 1);
        }
        const Row* row = Find(name);
        if (row == nullptr) {
            error = (name.rfind(L"-", 0) == 0 ? L"unknown option " : L"unexpected argument ") + arg;
            return false;
        }
        if (!row->inScanRun && outsideScanRun == nullptr) {
            outsideScanRun = row->name;
        }
        switch (row->kind) {
            case Kind::kFlag:
                return Flag(std::get<bool HostOptions::*>(row->field), true);
            case Kind::kFlagOff:
                return Flag(std::get<bool HostOptions::*>(row->field), false);
            case Kind::kNumber:
            case Kind::kSize:
                return Number(*row);
            case Kind::kText:
                return Text(std::get<std::wstring HostOptions::*>(row->field));
            case Kind::kList:
                return Append(std::get<std::vector<std::wstring> HostOptions::*>(row->field));
            case Kind::kPattern:
                return Pattern(std::get<std::vector<std::wstring> HostOptions::*>(row->field));
        }
        return false;
    }

    bool Value(std::wstring& value) {
        if (inlineValue) {
            value = *inlineValue;
            return true;
        }
        if (next >= args.size()) {
            error = name + L" needs a value";
            return false;
        }
        value = args[next++];
        return true;
    }

    bool Text(std::wstring HostOptions::*field) {
        std::wstring value;
        if (!Value(value) || !NotEmpty(value)) {
            return false;
        }
        options.*field = std::move(value);
        return true;
    }

    // A repeatable option: each one adds its value.
    bool Append(std::vector<std::wstring> HostOptions::*field) {
        std::wstring value;
        if (!Value(value) || !NotEmpty(value)) {
            return false;
        }
        (options.*field).push_back(std::move(value));
        return true;
    }

    // A repeatable regular expression, refused with its text when it does not compile.
    bool Pattern(std::vector<std::wstring> HostOptions::*field) {
        if (!Append(field)) {
            return false;
        }
        if (scan::PathFilter::IsValidPattern((options.*field).back())) {
            return true;
        }
        error =
            name + L" needs a valid regular expression, not \"" + (options.*field).back() + L"\"";
        return false;
    }

    bool NotEmpty(const std::wstring& value) {
        if (!value.empty()) {
            return true;
        }
        error = name + L" needs a value";
        return false;
    }

    bool Number(const Row& row) {
        std::wstring text;
        if (!Value(text)) {
            return false;
        }
        std::uint64_t value = 0;
        if (!ParseNumber(text, row, value)) {
            error = name + L" needs a whole number from " + std::to_wstring(row.low) + L" to " +
                    std::to_wstring(row.high) +
                    (row.kind == Kind::kSize ? L" (or with K, M or G after it)" : L"") +
                    L", not \"" + text + L"\"";
            return false;
        }
        std::visit(
            [&](auto field) {
                using Target = std::remove_reference_t<decltype(options.*field)>;
                if constexpr (std::is_same_v<Target, std::uint32_t> ||
                              std::is_same_v<Target, std::uint64_t>) {
                    options.*field = static_cast<Target>(value);
                }
            },
            row.field);
        return true;
    }

    bool Flag(bool HostOptions::*field, bool value) {
        if (inlineValue) {
            error = name + L" takes no value";
            return false;
        }
        options.*field = value;
        return true;
    }

    const std::vector<std::wstring>& args;
    std::wstring& error;
    HostOptions options;
    std::size_t next = 0;
    std::wstring name;
    std::optional<std::wstring> inlineValue;
    const wchar_t* outsideScanRun = nullptr;  // the first option given that --scan refuses
};

// "  --name VALUE    help", the help's further lines indented under its first.
std::wstring UsageLine(const Row& row) {
    constexpr std::size_t kColumn = 21;
    std::wstring left = row.name;
    if (*row.valueName != L'\0') {
        left += std::wstring(L" ") + row.valueName;
    }
    left.resize(std::max(kColumn, left.size() + 2), L' ');  // two spaces at least
    std::wstring line = L"  " + left;
    for (const wchar_t* c = row.help; *c != L'\0'; ++c) {
        line += *c == L'\n' ? L"\n" + std::wstring(kColumn + 2, L' ') : std::wstring(1, *c);
    }
    return line + L"\n";
}

}  // namespace

scan::FolderScanner::Options HostOptions::EachScan() const {
    scan::FolderScanner::Options each;
    each.progressEvery = progressEvery;
    each.pauseMs = scanPauseMs;
    each.maxFileSize = maxFileSize;
    each.maxScanSize = maxScanSize;
    each.maxFiles = maxFiles;
    each.maxRecursion = maxRecursion;
    each.openArchives = openArchives;
    each.filter = ScanFilter();
    return each;
}

std::shared_ptr<const scan::PathFilter> HostOptions::ScanFilter() const {
    using Rule = scan::PathFilter::Rule;
    auto filter = std::make_shared<scan::PathFilter>();
    const auto addAll = [&](Rule rule, const std::vector<std::wstring>& patterns) {
        for (const std::wstring& pattern : patterns) {
            filter->Add(rule, pattern);
        }
    };
    addAll(Rule::kExcludeFile, excludeFiles);
    addAll(Rule::kExcludeFolder, excludeFolders);
    addAll(Rule::kIncludeFile, includeFiles);
    return filter;
}

std::span<const HostOptions::Row> HostOptions::Table() {
    return kTable;
}

std::optional<HostOptions> HostOptions::Parse(const std::vector<std::wstring>& args,
                                              std::wstring& error) {
    return Parser(args, error).Run();
}

std::wstring HostOptions::Usage() {
    std::wstring usage =
        L"usage: devicescan-host [options]\n"
        L"Loads devicescan.dll, runs its FileScan.OnDemand.DeviceScanSP service and prints every\n"
        L"volume mount and removal; each mounted volume is scanned for the signatures of the\n"
        L"--db databases (and the built-in EICAR test file).\n"
        L"Stops on a line \"quit\" or the end of standard input, on Ctrl-C, or after --seconds.\n"
        L"\n";
    for (const Row& row : kTable) {
        usage += UsageLine(row);
    }
    std::wstring refused;
    for (const Row& row : kTable) {
        refused += row.inScanRun ? L"" : (refused.empty() ? L"" : L", ") + std::wstring(row.name);
    }
    return usage + L"With --scan, " + refused +
           L" are refused.\n"
           L"\n"
           L"exit codes: 0 stopped cleanly, 1 host failure, 2 usage or database error,\n"
           L"3 module not loaded, 4 export missing, 5 object not created, 6 Register failed,\n"
           L"7 Init failed, 8 Start failed, 9 restart failed (after the service window was lost)";
}

}  // namespace devicescan::host
