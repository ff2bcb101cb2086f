// The signature database parsers under bad input: good hash-signature and hash-list lines (each
// must give exactly the signature written), the same lines with one planted fault or cut short
// before the name (each must be refused with a reason), binary junk, and lines of a megabyte.
// Whole database files, and the line number of the first bad one, are the loader's unit tests'.
#include <algorithm>
#include <cstring>

#include "host/scan/HashListParser.h"
#include "host/scan/HashSignatureParser.h"
#include "tests/fuzz/RandomInput.h"

namespace {

using devicescan::scan::HashListParser;
using devicescan::scan::HashSignatureParser;
using devicescan::scan::SignatureLine;
using Kind = HashSignatureParser::Kind;

// A line as written and, when it is good, the signature it must give.
struct Line {
    std::string text;
    bool good = false;
    std::string hex{};  // in either case
    std::uint64_t size = SignatureLine::kAnySize;
    std::string name{};
};

class SignatureFuzz : public devicescan::fuzz::Fuzzer {
  private:
    // Good, faulty and junk hash-signature lines; good, faulty and junk hash-list lines.
    void Input(std::size_t index) override {
        const Kind kind = random.OneIn(2) ? Kind::kMd5Only : Kind::kSha1OrSha256;
        const std::size_t choice = random.Below(7);
        const Line line = choice < 2   ? Good(kind)
                          : choice < 4 ? Faulty(kind)
                          : choice < 5
                              ? ListLine()
                              : Line{random.Bytes(random.OneIn(500) ? 1000000 : random.Below(200))};
        choice == 4 || choice == 6 ? Check(index, HashListParser("list"), line)
                                   : Check(index, HashSignatureParser(kind), line);
    }

    std::string Hex(std::size_t digits) {
        std::string hex(digits, '0');
        std::ranges::generate(hex, [this] { return "0123456789abcdefABCDEF"[random.Below(22)]; });
        return hex;
    }

    std::string Name() {
        std::string name(1 + random.Below(random.OneIn(1000) ? 1000000 : 40), 'n');
        for (char& c : name) {
            c = static_cast<char>(0x20 + random.Below(random.OneIn(8) ? 0xE0 : 0x5F));
        }
        std::replace(name.begin(), name.end(), ':', 'n');  // any byte but the field separator
        return name;
    }

    Line Good(Kind kind) {
        const std::string hash = Hex(kind == Kind::kMd5Only ? 32 : random.OneIn(2) ? 40 : 64);
        Line line{hash, true, hash, SignatureLine::kAnySize, Name()};
        line.size = random.OneIn(4) ? line.size : 1 + random() % 999999999999999999ull;
        line.text += ":" +
                     (line.size == SignatureLine::kAnySize ? "*" : std::to_string(line.size)) +
                     ":" + line.name;
        line.text += random.OneIn(3) ? ":" + std::to_string(random.Below(1000)) : "";  // a level
        line.text += random.OneIn(4) ? "\r" : "";
        return line;
    }

    // A good line with one fault: a bad hash digit, an odd number of digits, a hash of the wrong
    // length, a bad size, no name, a bad level, a field too many, or the line cut before its
    // name.
    Line Faulty(Kind kind) {
        const Line good = Good(kind);
        const std::string& hash = good.hex;
        const std::string size = good.text.substr(
            hash.size() + 1, good.text.find(':', hash.size() + 1) - hash.size() - 1);
        const std::string rest = ":" + size + ":" + Name();
        std::string badDigit = hash;
        badDigit[random.Below(hash.size())] = random.Pick<char>({'g', ' ', 'x', '\0'});
        const std::string badSize = random.Pick<std::string>(
            {"0", "-1", "1x", "", " 5", "**", "0x10", "99999999999999999999"});
        return {random.Pick<std::string>(
            {badDigit + rest, hash.substr(1) + rest, hash + "0" + rest,
             (kind == Kind::kMd5Only ? Hex(64) : Hex(random.OneIn(2) ? 32 : 48)) + rest,
             hash + ":" + badSize + ":" + Name(), hash + ":" + size + ":",
             hash + rest + ":" + random.Pick<std::string>({"x", "", "1.0", "-1", " 2"}),
             hash + rest + ":1:" + Name(), hash + ":" + size, hash + ":", hash})};
    }

    // A SHA-256, unnamed or named (blanks inside the name kept, those around it and a comment
    // not); or a hash of another length, or with a letter that is not a digit.
    Line ListLine() {
        const bool good = random.OneIn(2);
        Line line{good ? Hex(64) : random.OneIn(2) ? Hex(63 + 2 * random.Below(2)) : Hex(40), good};
        if (!good && random.OneIn(3)) {
            line.text[random.Below(line.text.size())] = 'z';
        }
        line.hex = line.text;
        if (random.OneIn(2)) {
            line.name = "<" + Name() + ">";
            std::replace(line.name.begin(), line.name.end(), '#', 'n');
            line.text += random.Pick<std::string>({" ", "\t", "  "}) + line.name;
        }
        line.text += random.OneIn(3) ? " # a comment" : "";
        return line;
    }

    template <typename Parser>
    void Check(std::size_t index, const Parser& parser, const Line& line) {
        SignatureLine signature;
        std::string problem;
        const auto result = parser.Parse(line.text, signature, problem);
        Judge(index, line.text, line.good, result == Parser::Result::kSignature,
              _stricmp(signature.digest.Hex().c_str(), line.hex.c_str()) == 0 &&
                  signature.size == line.size && signature.name == line.name,
              result != Parser::Result::kMalformed || !problem.empty());
    }
};

}  // namespace

int main(int argc, char** argv) {
    return SignatureFuzz().Main(argc, argv);
}
