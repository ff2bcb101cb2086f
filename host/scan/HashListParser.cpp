#include "host/scan/HashListParser.h"

namespace devicescan::scan {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The position of the first blank, or npos. A loop of its own: find_first_of looks each
// character up in the set through a call to memchr, which is the main cost of loading a long
// list.
std::size_t FindBlank(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsBlank(text[i])) {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

HashListParser::Result HashListParser::Parse(std::string_view line, SignatureLine& signature,
                                             std::string& problem) const {
    line = Trimmed(line.substr(0, line.find('#')));
    if (line.empty()) {
        return Result::kNothing;
    }
    const std::size_t blank = FindBlank(line);
    const std::string_view hash = line.substr(0, blank);
    if (!Digest::FromHex(hash, HashType::kSha256, signature.digest)) {
        problem = "\"" + std::string(hash.substr(0, 80)) + "\" is not a SHA-256 (64 hex digits)";
        return Result::kMalformed;
    }
    signature.size = SignatureLine::kAnySize;
    signature.name.clear();
    signature.listStem.clear();
    if (blank == std::string_view::npos) {
        signature.listStem = listStem;
        return Result::kSignature;
    }
    signature.name.assign(Trimmed(line.substr(blank)));
    return Result::kSignature;
}

}  // namespace devicescan::scan
