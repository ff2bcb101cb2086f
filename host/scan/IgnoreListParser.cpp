#include "host/scan/IgnoreListParser.h"

namespace devicescan::scan {

IgnoreListParser::Result IgnoreListParser::Parse(std::string_view line, SignatureLine& signature,
                                                 std::string&) const {
    line = line.substr(0, line.find(':'));
    constexpr std::string_view kBlanks = " \t\r";
    const std::size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return Result::kNothing;
    }
    line = line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
    signature.name.assign(line);
    return Result::kSignature;
}

}  // namespace devicescan::scan
