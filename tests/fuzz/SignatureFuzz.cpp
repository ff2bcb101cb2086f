// The signature database parsers under bad input: good hash-signature and hash-list lines (each
// must give exactly the signature written), the same lines with one planted fault or cut short
// before the name (each must be refused with a reason), binary junk, and lines of a megabyte.
// Then whole database files with one bad line among good ones: the load must fail at that line.
#include <windows.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "scan/DatabaseLoader.h"
#include "scan/HashListParser.h"
#include "scan/HashSignatureParser.h"
#include "scan/SignatureDatabase.h"
#include "tests/fuzz/RandomInput.h"

namespace {

using devicescan::fuzz::FuzzRun;
using devicescan::fuzz::FuzzTally;
using devicescan::fuzz::RandomInput;
using devicescan::scan::HashListParser;
using devicescan::scan::HashSignatureParser;
using devicescan::scan::SignatureLine;
using Kind = HashSignatureParser::Kind;

// A line as written and, when it is good, the signature it must give.
struct Line {
    std::string text;
    bool good = false;
    std::string hex;  // lower case
    std::uint64_t size = SignatureLine::kAnySize;
    std::string name;
};

Line Bad(std::string text) {
    Line line;
    line.text = std::move(text);
    return line;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

class SignatureFuzz {
  public:
    explicit SignatureFuzz(std::uint64_t seed) : random(seed) {}

    void Input(std::size_t index) {
        tally.Tried();
        const Kind kind = random.OneIn(2) ? Kind::kMd5Only : Kind::kSha1OrSha256;
        switch (random.Below(8)) {
            case 0:
            case 1:
                CheckSignature(index, kind, GoodSignatureLine(kind));
                break;
            case 2:
            case 3:
                CheckSignature(index, kind, FaultySignatureLine(kind));
                break;
            case 4:
                CheckSignature(index, kind, CutSignatureLine(kind));
                break;
            case 5:
                CheckList(index, ListLine());
                break;
            default:
                CheckJunk(index, kind);
                break;
        }
    }

    // Database files of good lines with one bad line: the load fails there and names it.
    void Files() {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / L"signature_fuzz";
        std::filesystem::create_directories(folder);
        for (std::size_t file = 0; file < 30; ++file) {
            tally.Tried();
            const Kind kind = file % 2 == 0 ? Kind::kMd5Only : Kind::kSha1OrSha256;
            const std::size_t lines = 1 + random.Below(2000);
            const std::size_t bad = random.Below(lines);
            std::string content;
            for (std::size_t i = 0; i < lines; ++i) {
                std::string line =
                    (i == bad ? FaultySignatureLine(kind) : GoodSignatureLine(kind)).text;
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();  // the line end below brings its own
                }
                content += line + (random.OneIn(2) ? "\n" : "\r\n");
            }
            const std::filesystem::path path =
                folder / (kind == Kind::kMd5Only ? L"fuzz.hdb" : L"fuzz.hsb");
            std::ofstream(path, std::ios::binary) << content;
            devicescan::scan::SignatureDatabase database;
            const auto error = devicescan::scan::DatabaseLoader(database).Load(path.wstring());
            if (!error || error->line != bad + 1) {
                tally.Fail(file, "a bad line in a database file was not reported at its line",
                           content.substr(0, 2000));
            }
        }
        std::filesystem::remove_all(folder);
    }

    int Finish() const { return tally.Finish(); }

  private:
    std::string Hex(std::size_t digits) {
        static constexpr char kDigits[] = "0123456789abcdefABCDEF";
        std::string hex(digits, '0');
        for (char& c : hex) {
            c = kDigits[random.Below(22)];
        }
        return hex;
    }

    std::string Name() {
        std::string name(1 + random.Below(random.OneIn(1000) ? 1000000 : 40), 'n');
        for (char& c : name) {
            do {
                c = static_cast<char>(0x20 + random.Below(random.OneIn(8) ? 0xE0 : 0x5F));
            } while (c == ':');
        }
        if (name.back() == '\r') {
            name.back() = 'n';
        }
        return name;
    }

    std::size_t DigitsFor(Kind kind) {
        if (kind == Kind::kMd5Only) {
            return 32;
        }
        return random.OneIn(2) ? 40 : 64;
    }

    Line GoodSignatureLine(Kind kind) {
        Line line;
        const std::string hash = Hex(DigitsFor(kind));
        line.good = true;
        line.hex = Lower(hash);
        line.name = Name();
        std::string size = "*";
        if (!random.OneIn(4)) {
            line.size = 1 + random.Next() % 999999999999999999ull;
            size = std::to_string(line.size);
        }
        line.text = hash + ":" + size + ":" + line.name;
        if (random.OneIn(3)) {
            line.text += ":" + std::to_string(random.Below(1000));
        }
        if (random.OneIn(4)) {
            line.text += "\r";
        }
        return line;
    }

    Line FaultySignatureLine(Kind kind) {
        const std::string good = GoodSignatureLine(kind).text;
        const std::size_t hashEnd = good.find(':');
        const std::size_t sizeEnd = good.find(':', hashEnd + 1);
        std::string hash = good.substr(0, hashEnd);
        std::string size = good.substr(hashEnd + 1, sizeEnd - hashEnd - 1);
        std::string name = Name();
        std::string level;
        switch (random.Below(9)) {
            case 0:
                hash[random.Below(hash.size())] =
                    random.Pick(std::vector<char>{'g', ' ', 'x', '\0'});
                break;
            case 1:
                hash += random.OneIn(2) ? "0" : "";
                hash.resize(hash.size() - (hash.size() % 2 == 0 ? 1 : 0));
                break;
            case 2:
                hash = kind == Kind::kMd5Only ? Hex(64) : Hex(random.OneIn(2) ? 32 : 48);
                break;
            case 3:
                size = random.Pick(std::vector<std::string>{"0", "-1", "1x", "", " 5", "**", "0x10",
                                                            "99999999999999999999"});
                break;
            case 4:
                name.clear();
                break;
            case 5:
                level = ":" + random.Pick(std::vector<std::string>{"x", "", "1.0", "-1", " 2"});
                break;
            case 6:
                level = ":1:" + Name();
                break;
            case 7:
                return Bad(hash + ":" + size);
            default:
                return Bad(hash);
        }
        return Bad(hash + ":" + size + ":" + name + level);
    }

    // A good line cut before its name: never a signature.
    Line CutSignatureLine(Kind kind) {
        const std::string good = GoodSignatureLine(kind).text;
        const std::size_t nameAt = good.find(':', good.find(':') + 1) + 1;
        return Bad(good.substr(0, random.Below(nameAt)));
    }

    Line ListLine() {
        Line line;
        std::string hash = Hex(64);
        line.good = true;
        line.hex = Lower(hash);
        if (random.OneIn(2)) {
            line.good = false;
            hash = random.OneIn(2) ? Hex(63 + 2 * random.Below(2)) : Hex(40);
            if (random.OneIn(3)) {
                hash[random.Below(hash.size())] = 'z';
            }
        }
        line.text = hash;
        if (random.OneIn(2)) {
            std::string name = Name();
            name = name.substr(0, name.find('#'));
            name.erase(name.find_last_not_of(" \t\r") + 1);
            name.erase(0, name.find_first_not_of(" \t\r"));
            if (!name.empty()) {
                line.name = name;
                line.text += random.Pick(std::vector<std::string>{" ", "\t", "  "}) + name;
            }
        }
        if (random.OneIn(3)) {
            line.text += " # a comment";
        }
        return line;
    }

    void CheckSignature(std::size_t index, Kind kind, const Line& line) {
        SignatureLine signature;
        std::string problem;
        const auto result = HashSignatureParser(kind).Parse(line.text, signature, problem);
        Check(index, line, result == HashSignatureParser::Result::kSignature,
              result == HashSignatureParser::Result::kMalformed, signature, problem);
    }

    void CheckList(std::size_t index, const Line& line) {
        SignatureLine signature;
        std::string problem;
        const auto result = HashListParser("list").Parse(line.text, signature, problem);
        Check(index, line, result == HashListParser::Result::kSignature,
              result == HashListParser::Result::kMalformed, signature, problem);
    }

    void Check(std::size_t index, const Line& line, bool taken, bool refused,
               const SignatureLine& signature, const std::string& problem) {
        if (line.good && !taken) {
            tally.Fail(index, "a good line was refused", line.text);
            return;
        }
        if (!line.good && taken) {
            tally.Fail(index, "a bad line was taken", line.text);
            return;
        }
        if (refused && problem.empty()) {
            tally.Fail(index, "refused without a reason", line.text);
        }
        if (taken && (signature.digest.Hex() != line.hex || signature.size != line.size ||
                      signature.name != line.name)) {
            tally.Fail(index, "the signature differs from the line", line.text);
        }
    }

    void CheckJunk(std::size_t index, Kind kind) {
        const std::string junk = random.Bytes(random.OneIn(500) ? 1000000 : random.Below(200));
        SignatureLine signature;
        std::string problem;
        const bool taken = random.OneIn(2)
                               ? HashSignatureParser(kind).Parse(junk, signature, problem) ==
                                     HashSignatureParser::Result::kSignature
                               : HashListParser("junk").Parse(junk, signature, problem) ==
                                     HashListParser::Result::kSignature;
        if (taken) {
            tally.Fail(index, "binary junk was taken as a signature", junk);
        }
    }

    RandomInput random;
    FuzzTally tally{"signature_fuzz"};
};

}  // namespace

int main(int argc, char** argv) {
    const FuzzRun run = FuzzRun::FromArguments(argc, argv, 100000, 20261206);
    SignatureFuzz fuzz(run.seed);
    for (std::size_t i = 0; i < run.count; ++i) {
        fuzz.Input(i);
    }
    fuzz.Files();
    return fuzz.Finish();
}
