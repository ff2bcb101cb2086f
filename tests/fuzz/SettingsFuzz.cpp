// The log settings reader under bad input: random bytes, mutated settings files in each encoding
// the reader accepts (UTF-8 with and without its mark, UTF-16 with its mark), settings files with
// one bad line planted among good ones, and oversized texts and files. Nothing may crash or hang,
// every result stays within the documented bounds, a planted bad line is always reported and
// leaves its setting at the default, and a text whose every line is a setting reports nothing.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/Settings.h"
#include "log/SettingsFile.h"
#include "sdk/Utf8.h"
#include "tests/fuzz/RandomInput.h"

namespace {

using devicescan::fuzz::FuzzRun;
using devicescan::fuzz::FuzzTally;
using devicescan::fuzz::RandomInput;
namespace logdll = devicescan::logdll;
using logdll::Settings;

const std::vector<std::wstring> kKeys = {L"enabled", L"path",  L"level", L"max_size", L"backups",
                                         L"type",    L"flush", L"depth", L"monitor"};

// Good lines, by key (kKeys order).
const std::vector<std::vector<std::wstring>> kGoodValues = {
    {L"yes", L"no", L"1", L"0", L"On", L"off", L"TRUE", L"false"},
    {L"C:\\logs\\service.log", L"\"D:\\with space\\x.log\"", L"relative.log", L""},
    {L"error", L"Warning", L"info", L"debug", L"all", L"0x20", L"32", L"0"},
    {L"0", L"1024", L"4 KB", L"10M", L"1g", L"0x1000", L"2048b"},
    {L"0", L"3", L"100", L"0x10"},
    {L"file", L"debugger", L"Both"},
    {L"line", L"buffered"},
    {L"0", L"7", L"1000"},
    {L"yes", L"no"},
};

// Values that must be refused, by key (kKeys order; a path is refused only when too long).
const std::vector<std::vector<std::wstring>> kBadValues = {
    {L"maybe", L"2", L"", L"yes please"},
    {},
    {L"loud", L"0x1FFFFFFFF", L"-1", L"4294967296", L"info!"},
    {L"1023", L"5 TB", L"-5", L"99999999999999999999G", L"0x10 KB", L"16777216T", L"k",
     L"18446744073709551616", L"0x10000000000000000"},  // 2^64: wraps to 0 without a check
    {L"101", L"-1", L"three", L"3.5", L"0x", L"18446744073709551619"},
    {L"printer", L"", L"files"},
    {L"sometimes", L"lines"},
    {L"1001", L"-3", L"4294967297", L"18446744073709551626"},
    {L"often"},
};

// The checker's own reading of a line, written apart from the reader's helpers on purpose: a
// fault in those must not be copied into what the runs expect.
std::wstring Lower(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return lower;
}

std::wstring_view Trim(std::wstring_view text) {
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsKey(const std::wstring& key) {
    for (const std::wstring& known : kKeys) {
        if (key == known) {
            return true;
        }
    }
    return false;
}

// Whether every line of text is blank, a comment, a section or "known key = something": the
// only texts that may pass without a problem reported.
bool EveryLineIsASetting(std::wstring_view text) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(L'\n'), text.size());
        const std::wstring_view line = Trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.front() == L';' || line.front() == L'#' || line.front() == L'[') {
            continue;
        }
        const std::size_t equals = line.find(L'=');
        if (equals == std::wstring_view::npos || !IsKey(Lower(Trim(line.substr(0, equals))))) {
            return false;
        }
    }
    return true;
}

// What no input may produce, whatever it holds.
const char* OutOfBounds(const Settings& settings, const std::vector<std::wstring>& problems) {
    if (settings.backups > logdll::kMaximumBackups || settings.depth > logdll::kMaximumDepth) {
        return "a count beyond its maximum";
    }
    if (settings.maxSize != 0 && settings.maxSize < logdll::kMinimumMaxSize) {
        return "a rotation size below the minimum";
    }
    if (settings.type == 0 || settings.type > (LOG_TYPE_FILE | LOG_TYPE_DEBUGGER) ||
        settings.mode > LOG_MODE_BUFFERED) {
        return "an unknown output type or flush mode";
    }
    if (settings.path.size() >= 32767 || problems.size() > 11) {
        return "an overlong path or problem list";
    }
    return nullptr;
}

// The field of settings that key sets, as text, to compare with the defaults.
std::wstring FieldText(const Settings& settings, std::size_t key) {
    switch (key) {
        case 0:
            return std::to_wstring(settings.enabled);
        case 1:
            return settings.path;
        case 2:
            return std::to_wstring(settings.level);
        case 3:
            return std::to_wstring(settings.maxSize);
        case 4:
            return std::to_wstring(settings.backups);
        case 5:
            return std::to_wstring(settings.type);
        case 6:
            return std::to_wstring(settings.mode);
        case 7:
            return std::to_wstring(settings.depth);
        default:
            return std::to_wstring(settings.monitor);
    }
}

enum class Encoding { Utf8, Utf8WithMark, Utf16WithMark };

std::string Encode(const std::wstring& text, Encoding encoding) {
    if (encoding == Encoding::Utf16WithMark) {
        std::string bytes = "\xFF\xFE";
        for (const wchar_t c : text) {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
        return bytes;
    }
    return (encoding == Encoding::Utf8WithMark ? "\xEF\xBB\xBF" : "") + qv::ToUtf8(text);
}

class SettingsFuzz {
  public:
    explicit SettingsFuzz(std::uint64_t seed) : random(seed) {}

    void Input(std::size_t index) {
        tally.Tried();
        switch (random.Below(10)) {
            case 0:
            case 1:
                RandomBytes(index);
                break;
            case 2:
            case 3:
            case 4:
                MutatedFile(index);
                break;
            default:
                PlantedBadLine(index);
                break;
        }
    }

    // Texts far beyond any settings file, parsed directly, and files beyond the reader's limit.
    void Oversized() {
        for (std::size_t i = 0; i < 20; ++i) {
            tally.Tried();
            std::wstring text = GoodText(2000);
            text += L"\npath = " + random.WideJunk(100000 + random.Below(400000));
            text += L"\n" + std::wstring(200000, L'=');
            const std::string bytes = Encode(text, Encoding::Utf16WithMark);
            Parse(i, bytes, logdll::DecodeSettingsText(bytes), false);
        }
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / L"settings_fuzz";
        std::filesystem::create_directories(folder);
        const std::size_t limit = logdll::kMaximumSettingsFileBytes;
        for (const std::size_t size : {limit, limit + 1, 10 * limit}) {
            tally.Tried();
            ReadFile(folder / L"log.ini", Encode(GoodText(1), Encoding::Utf8) + random.Bytes(size),
                     size, size <= limit);
        }
        std::filesystem::remove_all(folder);
    }

    int Finish() const { return tally.Finish(); }

  private:
    void RandomBytes(std::size_t index) {
        std::string bytes = random.Bytes(random.Below(300));
        if (random.OneIn(3)) {
            bytes.insert(0, random.OneIn(2) ? "\xFF\xFE" : "\xEF\xBB\xBF");
        }
        Parse(index, bytes, logdll::DecodeSettingsText(bytes), false);
    }

    void MutatedFile(std::size_t index) {
        const std::string bytes = random.Mutate(Encode(GoodText(8), RandomEncoding()));
        Parse(index, bytes, logdll::DecodeSettingsText(bytes), false);
    }

    // Good lines for every key but one, and a bad line for that one; the bad line must be
    // reported and its setting must keep its default.
    void PlantedBadLine(std::size_t index) {
        std::size_t key = random.Below(kKeys.size() + 2);
        std::wstring bad;
        if (key == kKeys.size()) {
            bad = L"colour = red";
        } else if (key == kKeys.size() + 1) {
            bad = L"ab" + random.WideJunk(random.Below(40));
            std::replace(bad.begin(), bad.end(), L'=', L'-');
            std::replace(bad.begin(), bad.end(), L'\n', L' ');
        } else if (key == 1) {
            bad = L"path = " + std::wstring(32767 + random.Below(100), L'x');
        } else {
            bad = Pad(kKeys[key]) + L"=" + Pad(random.Pick(kBadValues[key]));
        }
        std::wstring text;
        const std::size_t badAt = random.Below(kKeys.size());
        for (std::size_t line = 0; line < kKeys.size(); ++line) {
            if (line == badAt) {
                text += bad + Newline();
            }
            if (line != key && random.OneIn(2)) {
                text += GoodLine(line) + Newline();
            }
        }
        const std::string bytes = Encode(text, RandomEncoding());
        const std::wstring decoded = logdll::DecodeSettingsText(bytes);
        const Settings settings = Parse(index, bytes, decoded, true);
        if (key < kKeys.size() && FieldText(settings, key) != FieldText(Settings{}, key)) {
            tally.Fail(index, "a bad value was taken", text);
        }
    }

    Settings Parse(std::size_t index, std::string_view bytes, const std::wstring& text,
                   bool mustComplain) {
        std::vector<std::wstring> problems;
        const Settings settings = logdll::ParseSettings(text, problems);
        if (const char* what = OutOfBounds(settings, problems)) {
            tally.Fail(index, what, bytes);
        }
        if (problems.empty() && (mustComplain || !EveryLineIsASetting(text))) {
            tally.Fail(index, "garbage passed without a problem", bytes);
        }
        return settings;
    }

    void ReadFile(const std::filesystem::path& path, const std::string& bytes, std::size_t size,
                  bool withinLimit) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long long>(size));
        std::vector<std::wstring> problems;
        bool found = false;
        const Settings settings = logdll::ReadSettingsFile(path.wstring(), problems, found);
        const bool defaults = FieldText(settings, 2) == FieldText(Settings{}, 2) &&
                              FieldText(settings, 3) == FieldText(Settings{}, 3);
        if (!found || problems.empty() || (!withinLimit && !defaults)) {
            tally.Fail(size, "an oversized or junk-filled file was taken", path.string());
        }
    }

    std::wstring GoodText(std::size_t lines) {
        std::wstring text;
        for (std::size_t i = 0; i < lines; ++i) {
            const std::size_t kind = random.Below(kKeys.size() + 1);
            text +=
                (kind == kKeys.size() ? std::wstring(L"; a comment") : GoodLine(kind)) + Newline();
        }
        return text;
    }

    std::wstring GoodLine(std::size_t key) {
        return Pad(kKeys[key]) + L"=" + Pad(random.Pick(kGoodValues[key]));
    }

    std::wstring Pad(const std::wstring& text) {
        const wchar_t* blanks[] = {L"", L" ", L"\t", L"  "};
        return blanks[random.Below(4)] + text + blanks[random.Below(4)];
    }

    const wchar_t* Newline() { return random.OneIn(2) ? L"\n" : L"\r\n"; }

    Encoding RandomEncoding() { return static_cast<Encoding>(random.Below(3)); }

    RandomInput random;
    FuzzTally tally{"settings_fuzz"};
};

}  // namespace

int main(int argc, char** argv) {
    const FuzzRun run = FuzzRun::FromArguments(argc, argv, 100000, 20261206);
    SettingsFuzz fuzz(run.seed);
    for (std::size_t i = 0; i < run.count; ++i) {
        fuzz.Input(i);
    }
    fuzz.Oversized();
    return fuzz.Finish();
}
