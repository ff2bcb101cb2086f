// The host's command line under bad input. Each input is a command line built from the host's
// option table with good values, given inline ("--seconds=5") or as the next argument, so that
// the options it must produce are known; half of them get one planted fault (an unknown or junk
// argument, a value on a flag, a number out of range or with stray characters, a missing or empty
// value) that must be refused with a reason, and a line that mixes --scan with an option a scan
// run refuses must be refused too, as must --move with --copy and --restore without --quarantine
// (or the other way round). Every option of the table is generated, so that a new row is
// fuzzed without a change here. Nothing may crash, and no fault may pass.
#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <initializer_list>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <variant>

#include "host/app/HostOptions.h"
#include "sdk/Utf8.h"
#include "tests/fuzz/RandomInput.h"

namespace {

using devicescan::host::HostOptions;
using Row = HostOptions::Row;
using Kind = Row::Kind;
using Args = std::vector<std::wstring>;
using Rendered = std::map<std::wstring, std::wstring>;

// The rows of the table of the given kinds, or every row.
std::vector<const Row*> RowsOf(std::initializer_list<Kind> kinds) {
    std::vector<const Row*> rows;
    for (const Row& row : HostOptions::Table()) {
        if (kinds.size() == 0 || std::ranges::count(kinds, row.kind) != 0) {
            rows.push_back(&row);
        }
    }
    return rows;
}

const std::vector<const Row*> kRows = RowsOf({});
const std::vector<const Row*> kFlags = RowsOf({Kind::kFlag, Kind::kFlagOff});
const std::vector<const Row*> kNumbers = RowsOf({Kind::kNumber, Kind::kSize});
const std::vector<const Row*> kValued = RowsOf({Kind::kText, Kind::kList, Kind::kPattern});
const std::vector<const Row*> kPatterns = RowsOf({Kind::kPattern});

// A field's value as text (a flag: 1 when set; a list: its values one a line).
std::wstring Text(std::uint64_t value) {
    return std::to_wstring(value);
}
std::wstring Text(const std::wstring& value) {
    return value;
}
std::wstring Text(const std::vector<std::wstring>& values) {
    std::wstring text;
    for (const std::wstring& value : values) {
        text += value + L"\n";
    }
    return text;
}

// Each option's value, by the option's name (a flag: 1 when given), so that a run can write down
// what it expects.
Rendered Render(const HostOptions& options) {
    Rendered rendered;
    for (const Row& row : HostOptions::Table()) {
        const std::wstring text =
            std::visit([&](auto field) { return Text(options.*field); }, row.field);
        rendered[row.name] = row.kind == Kind::kFlagOff ? std::to_wstring(text == L"0") : text;
    }
    return rendered;
}

// The name as given, or one of the other spellings of an option.
bool IsKnown(const std::wstring& name) {
    return Render({}).contains(name) ||
           std::ranges::count(HostOptions::kAliases, name, &HostOptions::Alias::alias) != 0;
}

class HostOptionsFuzz : public devicescan::fuzz::Fuzzer {
  private:
    // Up to 6 good options and, in half the lines, one fault planted among them.
    void Input(std::size_t index) override {
        expected = Render({});
        given.clear();
        const bool faulty = random.OneIn(2);
        const std::size_t options = random.Below(7);
        const std::size_t fault = faulty ? random.Below(options + 1) : options + 1;
        Args args;
        for (std::size_t i = 0; i <= options; ++i) {
            std::ranges::copy(i == fault ? Fault(i == options) : Args{}, std::back_inserter(args));
            std::ranges::copy(i < options ? GoodOption() : Args{}, std::back_inserter(args));
        }
        std::wstring error;
        const std::optional<HostOptions> parsed = HostOptions::Parse(args, error);
        std::wstring line;
        for (const std::wstring& arg : args) {
            line += L"[" + arg + L"] ";
        }
        // Options that exclude or need each other: --move and --copy; --restore and --quarantine.
        const bool paired = !(given.contains(L"--move") && given.contains(L"--copy")) &&
                            given.contains(L"--restore") == given.contains(L"--quarantine");
        const bool refusedInScan = std::ranges::any_of(
            kRows, [&](const Row* row) { return given.contains(row->name) && !row->inScanRun; });
        const bool good = !faulty && !(given.contains(L"--scan") && refusedInScan) && paired;
        Judge(index, qv::ToUtf8(line + L": " + error), good, parsed.has_value(),
              parsed && Render(*parsed) == expected, parsed || !error.empty());
    }

    Args GoodOption() {
        const Row& row = *random.Pick(kRows);
        given.insert(row.name);
        if (row.kind == Kind::kFlag || row.kind == Kind::kFlagOff) {
            expected[row.name] = L"1";
            return {FlagSpelling(row)};
        }
        if (row.kind == Kind::kSize && random.OneIn(3)) {
            return WithValue(row.name, GoodSizeWithUnit(row));
        }
        if (row.kind == Kind::kNumber || row.kind == Kind::kSize) {
            std::wstring digits = expected[row.name] = std::to_wstring(GoodNumber(row));
            // with leading zeros, up to 20 digits in all
            digits.insert(0, random.OneIn(4) ? random.Below(20 - digits.size() + 1) : 0, L'0');
            return WithValue(row.name, digits);
        }
        const std::wstring value =
            row.kind == Kind::kPattern ? GoodPattern() : random.WideJunk(1 + random.Below(30));
        expected[row.name] = row.kind != Kind::kText ? expected[row.name] + value + L"\n" : value;
        return WithValue(row.name, value);
    }

    // A flag's name, or now and then one of its other spellings.
    std::wstring FlagSpelling(const Row& row) {
        std::vector<std::wstring> spellings = {row.name};
        for (const HostOptions::Alias& alias : HostOptions::kAliases) {
            if (std::wstring(alias.name) == row.name) {
                spellings.push_back(alias.alias);
            }
        }
        return random.OneIn(3) ? std::wstring(row.name) : random.Pick(spellings);
    }

    // Junk without the characters a regular expression gives a meaning, or a well-formed
    // expression.
    std::wstring GoodPattern() {
        std::wstring junk = random.WideJunk(1 + random.Below(30));
        std::erase_if(junk, [](wchar_t c) { return c != 0 && std::wcschr(L"\\^$.|?*+()[]{}", c); });
        return random.Pick<std::wstring>({junk.empty() ? L"x" : junk, L"\\.exe$",
                                          L"^c:\\\\tools\\\\", L"(setup|install)[0-9]*",
                                          L"[^\\\\]{40,}", L"\\\\\\$recycle\\.bin\\b"});
    }

    std::uint64_t GoodNumber(const Row& option) {
        const std::uint64_t span = option.high - option.low;
        const std::uint64_t any = span == UINT64_MAX ? random() : random() % (span + 1);
        return random.Pick<std::uint64_t>({option.low, option.high, option.low + any});
    }

    // A size in K, M or G (either case) when one within the option's range comes up, else in
    // bytes.
    std::wstring GoodSizeWithUnit(const Row& option) {
        const unsigned shift = 10 * static_cast<unsigned>(1 + random.Below(3));
        const std::uint64_t count = random.Below(2048);
        if ((count << shift) < option.low || (count << shift) > option.high) {
            return expected[option.name] = std::to_wstring(GoodNumber(option));
        }
        expected[option.name] = std::to_wstring(count << shift);
        const wchar_t* units = random.OneIn(2) ? L"KMG" : L"kmg";
        return std::to_wstring(count) + units[shift / 10 - 1];
    }

    // name=value, or name and value as two arguments.
    Args WithValue(const std::wstring& name, const std::wstring& value) {
        return random.OneIn(2) ? Args{name + L"=" + value} : Args{name, value};
    }

    // An unknown or junk argument, a value on a flag, a number out of range or with stray
    // characters, an empty value, a pattern that is no regular expression; last, also an option
    // that needs a value with none after it.
    Args Fault(bool last) {
        const Row& number = *random.Pick(kNumbers);
        const Row& valued = *random.Pick(kValued);
        const std::vector<Args> faults = {
            {JunkArgument()},
            {FlagSpelling(*random.Pick(kFlags)) + L"=" + random.WideJunk(random.Below(5))},
            WithValue(number.name, BadNumber(number)),
            WithValue(valued.name, L""),
            WithValue(random.Pick(kPatterns)->name,
                      random.Pick<std::wstring>(
                          {L"(", L"[a-", L"*.exe", L"a{2,1}", L"\\", L"x)", L"(a)\\1", L"[z-a]"})),
            {random.OneIn(4) ? valued.name : number.name}};
        return faults[random.Below(last ? 6 : 5)];
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
        return IsKnown(junk.substr(0, junk.find(L'='))) ? L"--unknown" : junk;
    }

    // Empty, signed, padded, with a unit, digits of other scripts and full-width digits (not
    // digits here), 21 digits, just above the range, below it or far above it.
    std::wstring BadNumber(const Row& option) {
        const std::wstring good = std::to_wstring(GoodNumber(option));
        return random.Pick<std::wstring>(
            {L"", L"-" + good, L"+" + good, L" " + good,
             good + random.Pick<std::wstring>(
                        {L" ", L"s", option.kind == Kind::kSize ? L"KB" : L"k", L".0", L"\t"}),
             option.kind == Kind::kSize ? L"17179869184G" : L"1k",  // 2^64 bytes
             random.Pick<std::wstring>({L"\x0663", L"\xFF15", L"\x00B2", L"0x10"}),
             std::wstring(21 - good.size(), L'0') + good,
             option.high != UINT64_MAX ? std::to_wstring(option.high + 1 + random.Below(1000))
                                       : L"18446744073709551616",
             option.low > 0 ? L"0" : L"99999999999999999999"});
    }

    Rendered expected;
    std::set<std::wstring> given;  // the names of the good options given
};

}  // namespace

int main(int argc, char** argv) {
    return HostOptionsFuzz().Main(argc, argv);
}
