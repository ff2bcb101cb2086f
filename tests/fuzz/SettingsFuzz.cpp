// The log settings reader under bad input: mutated settings files in each encoding the reader
// accepts (UTF-8 with and without its mark, UTF-16 with its mark), settings files with one bad
// line planted among good ones, and files at and beyond the reader's limit. Nothing may crash or
// hang, every result stays within the documented bounds, a planted bad line is always reported
// and leaves its setting at the default, and a good text reports nothing. The fixed cases read
// each good value of the table alone and check the setting it gives, the problem list's limit
// and the file's size limit.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>

#include "log/Settings.h"
#include "log/SettingsFile.h"
#include "sdk/Utf8.h"
#include "tests/fuzz/RandomInput.h"

namespace {

namespace logdll = devicescan::logdll;
using logdll::Settings;

// Each key with values it must take, each as written " -> " the field it gives as text, and
// values it must refuse (a path is refused only when too long), in the order of Fields.
struct Key {
    const wchar_t* name;
    std::vector<std::wstring> good;
    std::vector<std::wstring> bad;
};

const std::vector<Key> kKeys = {
    {L"enabled",
     {L"yes -> 1", L"no -> 0", L"1 -> 1", L"0 -> 0", L"On -> 1", L"off -> 0", L"TRUE -> 1",
      L"false -> 0"},
     {L"maybe", L"2", L"", L"yes please"}},
    {L"path",
     {L"C:\\logs\\service.log -> C:\\logs\\service.log",
      L"\"D:\\with space\\x.log\" -> D:\\with space\\x.log", L"a=b.log -> a=b.log", L"\" -> \"",
      L"\"\" -> ", L" -> "},
     {}},
    {L"level",
     {L"error -> 4", L"Warning -> 8", L"info -> 32", L"DEBUG -> 64", L"all -> 4294967295",
      L"0x20 -> 32", L"0XaB -> 171", L"32 -> 32", L"0 -> 0", L"4294967295 -> 4294967295"},
     {L"loud", L"0x1FFFFFFFF", L"-1", L"4294967296", L"info!", L"0x", L"0xG", L"1 K"}},
    {L"max_size",
     {L"0 -> 0", L"1024 -> 1024", L"1k -> 1024", L"4 KB -> 4096", L"10M -> 10485760",
      L"3 mb -> 3145728", L"1g -> 1073741824", L"4 Gb -> 4294967296", L"0x1000 -> 4096",
      L"0xfFfF -> 65535", L"2048b -> 2048", L"17179869183 G -> 18446744072635809792"},
     {L"1023", L"5 TB", L"-5", L"99999999999999999999G", L"0x10 KB", L"16777216T", L"k",
      L"18446744073709551616", L"0x10000000000000000",  // 2^64: wraps to 0 without a check
      L"17179869184 G", L"1.5 MB", L"2 K B"}},
    {L"backups",
     {L"0 -> 0", L"3 -> 3", L"100 -> 100", L"0x10 -> 16"},
     {L"101", L"-1", L"three", L"3.5", L"0x", L"18446744073709551619", L"2 K"}},
    {L"type", {L"file -> 1", L"debugger -> 2", L"Both -> 3"}, {L"printer", L"", L"files", L"2"}},
    {L"flush", {L"line -> 0", L"buffered -> 1", L"LINE -> 0"}, {L"sometimes", L"lines"}},
    {L"depth",
     {L"0 -> 0", L"7 -> 7", L"1000 -> 1000", L"0xA -> 10"},
     {L"1001", L"-3", L"4294967297", L"18446744073709551626"}},
    {L"monitor", {L"yes -> 1", L"no -> 0"}, {L"often"}}};

// A good value as written, without the field it gives.
std::wstring Written(const std::wstring& good) {
    return good.substr(0, good.find(L" -> "));
}

// The fields the keys set, as text, to compare with the defaults.
std::vector<std::wstring> Fields(const Settings& s) {
    return {std::to_wstring(s.enabled), s.path,
            std::to_wstring(s.level),   std::to_wstring(s.maxSize),
            std::to_wstring(s.backups), std::to_wstring(s.type),
            std::to_wstring(s.mode),    std::to_wstring(s.depth),
            std::to_wstring(s.monitor)};
}

// What a parse must report.
enum class Problems { Any, Some, None };

class SettingsFuzz : public devicescan::fuzz::Fuzzer {
  private:
    // A good file and the same mutated (which also gives junk behind a byte-order mark, cut
    // UTF-16 and broken UTF-8), or a planted bad line.
    void Input(std::size_t index) override {
        if (!random.OneIn(3)) {
            return PlantedBadLine(index);
        }
        const std::string good = Encoded(GoodText(8));
        Parse(index, good, Problems::None);
        Parse(index, Mutated(good), Problems::Any);
    }

    // Every good value alone under its key (in capitals every other time) gives exactly its field
    // and leaves the others at their defaults. Files at and beyond the reader's limit, which
    // bounds every text the parser is given: one at the limit is read whole, one beyond it gives
    // the defaults and a problem.
    void Extras() override {
        for (std::size_t key = 0; key < kKeys.size(); ++key) {
            for (std::size_t i = 0; i < kKeys[key].good.size(); ++i) {
                std::wstring line = kKeys[key].name;
                std::transform(line.begin(), line.end(), line.begin(),
                               [i](wchar_t c) { return i % 2 ? std::towupper(c) : c; });
                line += L" = " + Written(kKeys[key].good[i]);
                std::vector<std::wstring> expected = Fields({}), problems;
                expected[key] = kKeys[key].good[i].substr(Written(kKeys[key].good[i]).size() + 4);
                const Settings settings = logdll::ParseSettings(line, problems);
                Expect(Fields(settings) == expected && problems.empty(), i,
                       "a good value gave another setting", qv::ToUtf8(line));
            }
        }
        const std::size_t limit = logdll::kMaximumSettingsFileBytes;
        const std::filesystem::path file = std::filesystem::temp_directory_path() / "fuzz-log.ini";
        const std::string setting = "\nbackups = 7\n";
        for (const std::size_t size : {limit, limit + 1, 10 * limit}) {
            const std::string bytes = ";" + random.Bytes(size - 1 - setting.size()) + setting;
            std::ofstream(file, std::ios::binary) << bytes;
            std::vector<std::wstring> problems;
            bool found = false;
            const Settings settings = logdll::ReadSettingsFile(file.wstring(), problems, found);
            Expect(found && (size <= limit ? settings.backups == 7
                                           : !problems.empty() && Fields(settings) == Fields({})),
                   size, "a file at the limit was not read, or one beyond it was",
                   bytes.substr(0, 100));
        }
        std::filesystem::remove(file);
        // Comments and sections count as lines; the first ten problems are listed by line, the
        // rest summed up in one more: from one bad line to twelve.
        std::wstring text = L"; comment\r\n[log]\r\n\r\n";
        for (std::size_t bad = 1; bad <= 12; ++bad) {
            text += L"depth = x\r\n";
            std::vector<std::wstring> problems;
            logdll::ParseSettings(text, problems);
            const std::wstring rest = std::to_wstring(bad - 10) + L" more problems not listed";
            Expect(problems.size() == std::min<std::size_t>(bad, 11) &&
                       (bad < 10 || problems[9].substr(0, 9) == L"line 13: ") &&
                       (bad <= 10 || problems.back() == rest),
                   bad, "the problems are not listed by line up to ten", qv::ToUtf8(text));
        }
    }

    // Good lines for every key but one, and a bad line for that one; the bad line must be
    // reported and its setting must keep its default.
    void PlantedBadLine(std::size_t index) {
        // An unknown key, a key that only starts like a known one or lacks its last letter, a line
        // without '=' (starting with anything but a comment's or a section's mark), an overlong
        // path or a bad value of a key.
        const std::wstring junk =
            random.Pick<std::wstring>({L"ab", L"!", L"//", L"-", L"'", L"<"}) + Pad(L"x y");
        const std::wstring known = kKeys[random.Below(kKeys.size())].name;
        const std::wstring unknown =
            random.Pick<std::wstring>({L"colour", known + L"s", known.substr(0, known.size() - 1)});
        const std::size_t key = random.Below(kKeys.size() + 2);
        const std::wstring bad =
            key == kKeys.size()  ? Pad(unknown) + L"=" + Pad(L"1")
            : key > kKeys.size() ? junk
            : key == 1           ? L"path = " + std::wstring(32767 + random.Below(100), L'x')
                                 : Pad(kKeys[key].name) + L"=" + Pad(random.Pick(kKeys[key].bad));
        const std::size_t at = random.Below(kKeys.size());
        std::wstring text;
        for (std::size_t line = 0; line < kKeys.size(); ++line) {
            text += line == at ? bad + Newline() : L"";
            text += line != key && random.OneIn(2) ? GoodLine(line) + Newline() : L"";
        }
        const std::string bytes = Encoded(text);
        const Settings settings = Parse(index, bytes, Problems::Some);
        Expect(key >= kKeys.size() || Fields(settings)[key] == Fields({})[key], index,
               "a bad value was taken", bytes);
    }

    // What no input may produce, whatever it holds; a planted bad line must be reported, and a
    // good text must pass without a problem.
    Settings Parse(std::size_t index, const std::string& bytes, Problems expected) {
        std::vector<std::wstring> problems;
        const Settings s = logdll::ParseSettings(logdll::DecodeSettingsText(bytes), problems);
        Expect(s.backups <= logdll::kMaximumBackups && s.depth <= logdll::kMaximumDepth &&
                   (s.maxSize == 0 || s.maxSize >= logdll::kMinimumMaxSize) && s.type != 0 &&
                   s.type <= (LOG_TYPE_FILE | LOG_TYPE_DEBUGGER) && s.mode <= LOG_MODE_BUFFERED &&
                   s.path.size() < 32767 && problems.size() <= 11,
               index, "a setting beyond its bounds, or too many problems listed", bytes);
        Expect(expected == Problems::Any || problems.empty() == (expected == Problems::None), index,
               "garbage passed without a problem, or a good text reported one", bytes);
        return s;
    }

    std::wstring GoodText(std::size_t lines) {
        std::wstring text;
        for (std::size_t i = 0; i < lines; ++i) {
            const std::size_t key = random.Below(kKeys.size() + 1);
            text += (key == kKeys.size() ? L"; a comment" : GoodLine(key)) + Newline();
        }
        return text;
    }

    std::wstring GoodLine(std::size_t key) {
        return Pad(kKeys[key].name) + L"=" + Pad(Written(random.Pick(kKeys[key].good)));
    }

    std::wstring Pad(const std::wstring& text) {
        const std::vector<std::wstring> blanks = {L"", L" ", L"\t", L"  "};
        return random.Pick(blanks) + text + random.Pick(blanks);
    }

    const wchar_t* Newline() { return random.OneIn(2) ? L"\n" : L"\r\n"; }

    // text in UTF-8, UTF-8 with its mark or UTF-16 with its mark (wchar_t is UTF-16LE here).
    std::string Encoded(const std::wstring& text) {
        const std::size_t encoding = random.Below(3);
        return encoding == 2 ? "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()),
                                                        text.size() * 2)
                             : (encoding == 1 ? "\xEF\xBB\xBF" : "") + qv::ToUtf8(text);
    }

    // bytes with a few random edits: a few bytes at a random place replaced by up to three
    // random ones (flipped, inserted or removed bytes), or the rest cut off.
    std::string Mutated(std::string bytes) {
        for (std::size_t edits = 1 + random.Below(4); edits > 0 && !bytes.empty(); --edits) {
            const std::size_t at = random.Below(bytes.size());
            const std::size_t after =
                std::min(bytes.size(), random.OneIn(8) ? bytes.size() : at + random.Below(4));
            bytes = bytes.substr(0, at) + random.Bytes(random.Below(4)) + bytes.substr(after);
        }
        return bytes;
    }
};

}  // namespace

int main(int argc, char** argv) {
    return SettingsFuzz().Main(argc, argv);
}
