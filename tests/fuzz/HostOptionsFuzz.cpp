// The host's command line under bad input. Each input is a command line built from the host's
// options with good values, given inline ("--seconds=5") or as the next argument, so that the
// options it must produce are known; half of them get one planted fault (an unknown or junk
// argument, a value on a flag, a number out of range or with stray characters, a missing or empty
// value) that must be refused with a reason. Nothing may crash, and no fault may pass.
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>

#include "host/app/HostOptions.h"
#include "sdk/Utf8.h"
#include "tests/fuzz/RandomInput.h"

namespace {

using devicescan::host::HostOptions;
using Args = std::vector<std::wstring>;
using Rendered = std::map<std::wstring, std::wstring>;

// A numeric option and its range.
struct NumberOption {
    const wchar_t* name;
    std::uint64_t low;
    std::uint64_t high;
};

const std::vector<NumberOption> kNumbers = {
    {L"--seconds", 1, 100000000}, {L"--progress", 0, UINT64_MAX}, {L"--scan-pause", 0, 60000}};

const std::vector<std::wstring> kFlags = {L"--json", L"--no-stdin", L"--no-scan", L"--verbose",
                                          L"--help", L"-h",         L"/?"};

// Each option's value, by the option's name ("--help" for its aliases; a flag: 1 when given),
// so that a run can write down what it expects.
Rendered Render(const HostOptions& o) {
    return {{L"--module", o.modulePath},
            {L"--seconds", std::to_wstring(o.seconds)},
            {L"--progress", std::to_wstring(o.progressEvery)},
            {L"--scan-pause", std::to_wstring(o.scanPauseMs)},
            {L"--json", std::to_wstring(o.json)},
            {L"--no-stdin", std::to_wstring(!o.readStdin)},
            {L"--no-scan", std::to_wstring(!o.scan)},
            {L"--verbose", std::to_wstring(o.verbose)},
            {L"--help", std::to_wstring(o.help)}};
}

class HostOptionsFuzz : public devicescan::fuzz::Fuzzer {
  private:
    // Up to 6 good options and, in half the lines, one fault planted among them.
    void Input(std::size_t index) override {
        expected = Render({});
        const bool faulty = random.OneIn(2);
        const std::size_t options = random.Below(7);
        const std::size_t fault = faulty ? random.Below(options + 1) : options + 1;
        Args args;
        const auto add = [&](const Args& more) {
            args.insert(args.end(), more.begin(), more.end());
        };
        for (std::size_t i = 0; i <= options; ++i) {
            add(i == fault ? Fault(i == options) : Args{});
            add(i < options ? GoodOption() : Args{});
        }
        std::wstring error;
        const std::optional<HostOptions> parsed = HostOptions::Parse(args, error);
        std::wstring line;
        for (const std::wstring& arg : args) {
            line += L"[" + arg + L"] ";
        }
        Judge(index, qv::ToUtf8(line + L": " + error), !faulty, parsed.has_value(),
              parsed && Render(*parsed) == expected, parsed || !error.empty());
    }

    Args GoodOption() {
        const std::size_t kind = random.Below(3);
        if (kind == 0) {
            const std::wstring flag = random.Pick(kFlags);
            expected[flag.size() < 4 ? L"--help" : flag] = L"1";
            return {flag};
        }
        if (kind == 1) {
            expected[L"--module"] = random.WideJunk(1 + random.Below(30));
            return WithValue(L"--module", expected[L"--module"]);
        }
        const NumberOption& option = random.Pick(kNumbers);
        std::wstring digits = expected[option.name] = std::to_wstring(GoodNumber(option));
        // with leading zeros, up to 20 digits in all
        digits.insert(0, random.OneIn(4) ? random.Below(20 - digits.size() + 1) : 0, L'0');
        return WithValue(option.name, digits);
    }

    std::uint64_t GoodNumber(const NumberOption& option) {
        const std::uint64_t span = option.high - option.low;
        const std::uint64_t any = span == UINT64_MAX ? random() : random() % (span + 1);
        return random.Pick<std::uint64_t>({option.low, option.high, option.low + any});
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
            {random.Pick(kFlags) + L"=" + random.WideJunk(random.Below(5))},
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
        const std::wstring name = junk.substr(0, junk.find(L'='));
        return Render({}).contains(name) || name == L"-h" || name == L"/?" ? L"--unknown" : junk;
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

    Rendered expected;
};

}  // namespace

int main(int argc, char** argv) {
    return HostOptionsFuzz().Main(argc, argv);
}
