#include "host/scan/HashSignatureParser.h"

#include "host/scan/archive/DecimalText.h"

namespace devicescan::scan {

namespace {

std::string_view WithoutCarriageReturn(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// The colon-separated fields of line: up to kMaxFields of them in fields; the count may be
// more (then the line has too many).
constexpr std::size_t kMaxFields = 4;

std::size_t SplitFields(std::string_view line, std::string_view (&fields)[kMaxFields]) {
    for (std::size_t count = 0;; ++count) {
        const std::size_t colon = line.find(':');
        if (count < kMaxFields) {
            fields[count] = line.substr(0, colon);
        }
        if (colon == std::string_view::npos) {
            return count + 1;
        }
        line.remove_prefix(colon + 1);
    }
}

bool ParseSize(std::string_view text, std::uint64_t& size) {
    if (text == "*") {
        size = SignatureLine::kAnySize;
        return true;
    }
    return archive::ParseDecimal(text, size) && size != 0;
}

bool IsDecimal(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

HashSignatureParser::Result HashSignatureParser::Parse(std::string_view line,
                                                       SignatureLine& signature,
                                                       std::string& problem) const {
    line = WithoutCarriageReturn(line);
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
        return Result::kNothing;
    }
    std::string_view fields[kMaxFields];
    const std::size_t count = SplitFields(line, fields);
    if (count < 3 || count > kMaxFields) {
        problem = "expected HASH:SIZE:NAME[:FLEVEL], found " + std::to_string(count) + " field(s)";
        return Result::kMalformed;
    }
    const std::string_view hash = fields[0];
    HashType type = HashType::kMd5;
    if (kind == Kind::kSha1OrSha256) {
        type = hash.size() == 2 * DigestSize(HashType::kSha1) ? HashType::kSha1 : HashType::kSha256;
    }
    if (!Digest::FromHex(hash, type, signature.digest)) {
        problem = kind == Kind::kMd5Only
                      ? "the hash is not an MD5 (32 hex digits)"
                      : "the hash is neither a SHA-1 (40 hex digits) nor a SHA-256 (64)";
        return Result::kMalformed;
    }
    if (!ParseSize(fields[1], signature.size)) {
        problem = "the size \"" + std::string(fields[1]) + "\" is not a number above 0 or *";
        return Result::kMalformed;
    }
    if (fields[2].empty()) {
        problem = "the signature has no name";
        return Result::kMalformed;
    }
    if (count == kMaxFields && !IsDecimal(fields[3])) {
        problem = "the level \"" + std::string(fields[3]) + "\" is not a number";
        return Result::kMalformed;
    }
    signature.name.assign(fields[2]);
    signature.listStem.clear();
    return Result::kSignature;
}

}  // namespace devicescan::scan
