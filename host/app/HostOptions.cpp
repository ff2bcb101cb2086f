#include "host/app/HostOptions.h"

#include <limits>
#include <utility>

namespace devicescan::host {

namespace {

constexpr std::uint32_t kMaxSeconds = 100000000;
constexpr std::uint32_t kMaxScanPauseMs = 60000;
constexpr std::uint32_t kMaxScanThreads = 64;

// A decimal number without sign, within [low, high].
bool ParseNumber(const std::wstring& text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value) {
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
    if (result < low || result > high) {
        return false;
    }
    value = result;
    return true;
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
        if (name == L"--module") {
            return Value(options.modulePath) && NotEmpty(options.modulePath);
        }
        if (name == L"--seconds") {
            return Number(1, kMaxSeconds, options.seconds);
        }
        if (name == L"--progress") {
            return Number(0, std::numeric_limits<std::uint64_t>::max(), options.progressEvery);
        }
        if (name == L"--scan-pause") {
            return Number(0, kMaxScanPauseMs, options.scanPauseMs);
        }
        if (name == L"--db") {
            return Append(options.databases);
        }
        if (name == L"--scan") {
            return Append(options.scanPaths);
        }
        if (name == L"--scan-threads") {
            return Number(1, kMaxScanThreads, options.scanThreads);
        }
        if (name == L"--json") {
            return Flag(options.json);
        }
        if (name == L"--no-stdin") {
            return FlagOff(options.readStdin);
        }
        if (name == L"--no-scan") {
            return FlagOff(options.scan);
        }
        if (name == L"--scan-present") {
            return Flag(options.scanPresent);
        }
        if (name == L"--verbose") {
            return Flag(options.verbose);
        }
        if (name == L"--help" || name == L"-h" || name == L"/?") {
            return Flag(options.help);
        }
        error = (name.rfind(L"-", 0) == 0 ? L"unknown option " : L"unexpected argument ") + arg;
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

    // A repeatable option: each one adds its value.
    bool Append(std::vector<std::wstring>& values) {
        std::wstring value;
        if (!Value(value) || !NotEmpty(value)) {
            return false;
        }
        values.push_back(std::move(value));
        return true;
    }

    bool NotEmpty(const std::wstring& value) {
        if (!value.empty()) {
            return true;
        }
        error = name + L" needs a value";
        return false;
    }

    template <typename T>
    bool Number(std::uint64_t low, std::uint64_t high, T& target) {
        std::wstring text;
        if (!Value(text)) {
            return false;
        }
        std::uint64_t value = 0;
        if (!ParseNumber(text, low, high, value)) {
            error = name + L" needs a whole number from " + std::to_wstring(low) + L" to " +
                    std::to_wstring(high) + L", not \"" + text + L"\"";
            return false;
        }
        target = static_cast<T>(value);
        return true;
    }

    bool Flag(bool& target) {
        if (inlineValue) {
            error = name + L" takes no value";
            return false;
        }
        target = true;
        return true;
    }

    bool FlagOff(bool& target) {
        bool set = false;
        if (!Flag(set)) {
            return false;
        }
        target = false;
        return true;
    }

    const std::vector<std::wstring>& args;
    std::wstring& error;
    HostOptions options;
    std::size_t next = 0;
    std::wstring name;
    std::optional<std::wstring> inlineValue;
};

}  // namespace

std::optional<HostOptions> HostOptions::Parse(const std::vector<std::wstring>& args,
                                              std::wstring& error) {
    return Parser(args, error).Run();
}

const wchar_t* HostOptions::Usage() {
    return L"usage: devicescan-host [options]\n"
           L"Loads devicescan.dll, runs its FileScan.OnDemand.DeviceScanSP service and prints "
           L"every\n"
           L"volume mount and removal; each mounted volume is scanned for the signatures of the\n"
           L"--db databases (and the built-in EICAR test file).\n"
           L"Stops on a line \"quit\" or the end of standard input, on Ctrl-C, or after "
           L"--seconds.\n"
           L"\n"
           L"  --module PATH     the module to load (default: devicescan.dll beside this program)\n"
           L"  --json            one JSON object per line instead of readable lines\n"
           L"  --seconds N       stop after N seconds\n"
           L"  --no-stdin        do not read standard input (stop on Ctrl-C or --seconds only)\n"
           L"  --no-scan         do not scan mounted volumes\n"
           L"  --db PATH         a signature database (.hdb, .hsb, .sha256, .txt) or a folder of\n"
           L"                    them; repeatable\n"
           L"  --scan PATH       scan PATH without loading the module, then exit (0: nothing\n"
           L"                    found, 1: something found, 2: an error); repeatable\n"
           L"  --scan-threads N  scans that run at once (default: one per processor)\n"
           L"  --scan-present    also scan the volumes already there at start and after a restart\n"
           L"  --progress N      report scan progress every N files (default 1000, 0: never)\n"
           L"  --scan-pause MS   pause MS milliseconds after each scanned file (to watch a scan)\n"
           L"  --verbose         trace the calls between host and module on stderr\n"
           L"  --help            show this text\n"
           L"\n"
           L"exit codes: 0 stopped cleanly, 1 host failure, 2 usage or database error,\n"
           L"3 module not loaded, 4 export missing, 5 object not created, 6 Register failed,\n"
           L"7 Init failed, 8 Start failed, 9 restart failed (after the service window was lost)";
}

}  // namespace devicescan::host
