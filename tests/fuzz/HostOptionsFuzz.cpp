// The host's command line under bad input. Each input is a command line built from the host's
// options with good values, given inline ("--seconds=5") or as the next argument, so that the
// options it must produce are known; half of them get one planted fault (an unknown or junk
// argument, a value on a flag, a number out of range or with stray characters, a missing or empty
// value) that must be refused with a reason. Nothing may crash, and no fault may pass.
#include <algorithm>
#include <cstdint>
#include <optional>

#include "host/HostOptions.h"
#include "tests/fuzz/RandomInput.h"

namespace {

using devicescan::host::HostOptions;
using Args = std::vector<std::wstring>;

// A numeric option, its range and where the parsed value goes.
struct NumberOption {
    const wchar_t* name;
    std::uint64_t low;
    std::uint64_t high;
    void (*store)(HostOptions&, std::uint64_t);
};

const std::vector<NumberOption> kNumbers = {
    {L"--seconds", 1, 100000000,
     [](HostOptions& o, std::uint64_t v) { o.seconds = static_cast<std::uint32_t>(v); }},
    {L"--progress", 0, UINT64_MAX, [](HostOptions& o, std::uint64_t v) { o.progressEvery = v; }},
    {L"--scan-pause", 0, 60000,
     [](HostOptions& o, std::uint64_t v) { o.scanPauseMs = static_cast<std::uint32_t>(v); }},
};

struct FlagOption {
    const wchar_t* name;
    void (*store)(HostOptions&);
};

const std::vector<FlagOption> kFlags = {
    {L"--json", [](HostOptions& o) { o.json = true; }},
    {L"--no-stdin", [](HostOptions& o) { o.readStdin = false; }},
    {L"--no-scan", [](HostOptions& o) { o.scan = false; }},
    {L"--verbose", [](HostOptions& o) { o.verbose = true; }},
    {L"--help", [](HostOptions& o) { o.help = true; }},
    {L"-h", [](HostOptions& o) { o.help = true; }},
    {L"/?", [](HostOptions& o) { o.help = true; }},
};

bool IsOptionName(std::wstring_view name) {
    return name == L"--module" ||
           std::any_of(kNumbers.begin(), kNumbers.end(), [&](auto& o) { return name == o.name; }) ||
           std::any_of(kFlags.begin(), kFlags.end(), [&](auto& o) { return name == o.name; });
}

bool SameOptions(const HostOptions& a, const HostOptions& b) {
    return a.modulePath == b.modulePath && a.json == b.json && a.seconds == b.seconds &&
           a.readStdin == b.readStdin && a.scan == b.scan && a.progressEvery == b.progressEvery &&
           a.scanPauseMs == b.scanPauseMs && a.verbose == b.verbose && a.help == b.help;
}

class HostOptionsFuzz : public devicescan::fuzz::Fuzzer {
  public:
    HostOptionsFuzz() : Fuzzer("host_options_fuzz") {}

  private:
    // Up to 6 good options and, in half the lines, one fault planted among them.
    void Input(std::size_t index) override {
        expected = HostOptions{};
        const bool faulty = random.OneIn(2);
        const std::size_t options = random.Below(7);
        const Args args = random.Plant<Args>(
            options, faulty ? random.Below(options + 1) : options + 1,
            [&](std::size_t) { return GoodOption(); }, [&](bool last) { return Fault(last); });
        std::wstring error;
        const std::optional<HostOptions> parsed = HostOptions::Parse(args, error);
        std::wstring line;
        for (const std::wstring& arg : args) {
            line += L"[" + arg + L"] ";
        }
        Judge(index, line + L": " + error, !faulty, parsed.has_value(),
              parsed && SameOptions(*parsed, expected), parsed || !error.empty());
    }

    Args GoodOption() {
        const std::size_t kind = random.Below(3);
        if (kind == 0) {
            const FlagOption& flag = random.Pick(kFlags);
            flag.store(expected);
            return {flag.name};
        }
        if (kind == 1) {
            expected.modulePath = random.WideJunk(1 + random.Below(30));
            return WithValue(L"--module", expected.modulePath);
        }
        const NumberOption& option = random.Pick(kNumbers);
        const std::uint64_t value = GoodNumber(option);
        option.store(expected, value);
        std::wstring digits = std::to_wstring(value);  // with leading zeros, up to 20 digits in all
        digits.insert(0, random.OneIn(4) ? random.Below(20 - digits.size() + 1) : 0, L'0');
        return WithValue(option.name, digits);
    }

    std::uint64_t GoodNumber(const NumberOption& option) {
        const std::uint64_t span = option.high - option.low;
        const std::uint64_t any = span == UINT64_MAX ? random.Next() : random.Next() % (span + 1);
        return random.Pick({option.low, option.high, option.low + any});
    }

    // name=value, or name and value as two arguments.
    Args WithValue(const std::wstring& name, const std::wstring& value) {
        return random.OneIn(2) ? Args{name + L"=" + value} : Args{name, value};
    }

    // An unknown or junk argument, a value on a flag, a number out of range or with stray
    // characters, an empty module; last, also an option that needs a value with none after it.
    Args Fault(bool last) {
        const NumberOption& number = random.Pick(kNumbers);
        const std::vector<Args> faults = {
            {JunkArgument()},
            {std::wstring(random.Pick(kFlags).name) + L"=" + random.WideJunk(random.Below(5))},
            WithValue(number.name, BadNumber(number)),
            WithValue(L"--module", L""),
            {random.OneIn(4) ? L"--module" : number.name}};
        return faults[random.Below(last ? 5 : 4)];
    }

    // An unknown argument or a near miss of a known one.
    std::wstring JunkArgument() {
        std::wstring junk =
            random.OneIn(2)
                ? random.Pick<std::wstring>({L"--JSON", L"--jsonx", L"json", L"-", L"--", L"",
                                             L"---json", L"--no_scan", L"/h", L"-?", L"--module5",
                                             L"=--json", L" --json", L"--help "})
                : random.WideJunk(random.Below(12));
        junk.insert(0, random.OneIn(3) ? L"--" : L"");
        return IsOptionName(junk.substr(0, junk.find(L'='))) ? L"--unknown" : junk;
    }

    // Empty, signed, padded, with a unit, digits of other scripts and full-width digits (not
    // digits here), 21 digits, just above the range, below it or far above it.
    std::wstring BadNumber(const NumberOption& option) {
        const std::wstring good = std::to_wstring(GoodNumber(option));
        return random.Pick<std::wstring>(
            {L"", L"-" + good, L"+" + good, L" " + good,
             good + random.Pick<std::wstring>({L" ", L"s", L"k", L".0", L"\t"}),
             random.Pick<std::wstring>({L"\x0663", L"\xFF15", L"\x00B2", L"0x10"}),
             std::wstring(21 - good.size(), L'0') + good,
             option.high != UINT64_MAX ? std::to_wstring(option.high + 1 + random.Below(1000))
                                       : L"18446744073709551616",
             option.low > 0 ? L"0" : L"99999999999999999999"});
    }

    HostOptions expected;
};

}  // namespace

int main(int argc, char** argv) {
    return HostOptionsFuzz().Main(argc, argv);
}
