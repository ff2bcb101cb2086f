#include "host/scan/ContainerHeader.h"
#include "host/scan/archive/DecimalText.h"

namespace devicescan::scan {

namespace {

constexpr std::string_view kPrefix = "ClamAV-VDB";
constexpr std::size_t kFields = 9;

bool IsPrintable(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ContainerHeader::Parse(std::string_view bytes, ContainerHeader& header, std::string& problem) {
    if (bytes.size() < kSize) {
        problem = "the container is shorter than its " + std::to_string(kSize) + "-byte header";
        return false;
    }
    bytes = bytes.substr(0, kSize);
    const std::size_t end = bytes.find_last_not_of(' ');
    const std::string_view text = bytes.substr(0, end == std::string_view::npos ? 0 : end + 1);
    if (text.substr(0, kPrefix.size() + 1) != "ClamAV-VDB:") {
        problem = "the header does not start with \"ClamAV-VDB:\"";
        return false;
    }
    if (!IsPrintable(text)) {
        problem = "the header holds a byte that is not printable text";
        return false;
    }
    std::string_view fields[kFields];
    std::size_t count = 0;
    for (std::string_view rest = text;; ++count) {
        const std::size_t colon = rest.find(':');
        if (count < kFields) {
            fields[count] = rest.substr(0, colon);
        }
        if (colon == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(colon + 1);
    }
    if (++count != kFields) {
        problem =
            "the header has " + std::to_string(count) + " fields, not " + std::to_string(kFields);
        return false;
    }
    const struct {
        std::string_view text;
        std::uint64_t* value;
        const char* name;
    } numbers[] = {{fields[2], &header.version, "version"},
                   {fields[3], &header.signatures, "signature count"},
                   {fields[4], &header.level, "functionality level"}};
    for (const auto& number : numbers) {
        if (!archive::ParseDecimal(number.text, *number.value)) {
            problem = std::string("the header's ") + number.name + " is not a number";
            return false;
        }
    }
    std::uint64_t stime = 0;
    if (!archive::ParseDecimal(fields[8], stime)) {
        problem = "the header's build time is not a number";
        return false;
    }
    if (fields[1].empty() || fields[6].empty() || fields[7].empty()) {
        problem = "the header's time, signature or builder is empty";
        return false;
    }
    header.hasMd5 = fields[5] != "X";
    if (header.hasMd5 && !Digest::FromHex(fields[5], HashType::kMd5, header.md5)) {
        problem = "the header's MD5 is neither 32 hex digits nor X";
        return false;
    }
    header.builder.assign(fields[7]);
    return true;
}

}  // namespace devicescan::scan
