#include "host/scan/ContainerIndex.h"

#include "host/scan/archive/DecimalText.h"

namespace devicescan::scan {

bool ContainerIndex::AddLine(std::string_view line, std::string& problem) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (!headerSeen) {
        headerSeen = true;
        if (line.substr(0, 11) != "ClamAV-VDB:") {
            problem = "the first line is not a \"ClamAV-VDB:\" header";
            return false;
        }
        return true;
    }
    if (line.empty() || line.substr(0, 5) == "DSIG:") {
        return true;
    }
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos || line.find(':', second + 1) != std::string_view::npos) {
        problem = "expected NAME:SIZE:SHA256";
        return false;
    }
    const std::string_view name = line.substr(0, first);
    Entry entry;
    if (name.empty() || name.find_first_of("/\\") != std::string_view::npos) {
        problem = "the name is empty or has a folder in it";
        return false;
    }
    if (!archive::ParseDecimal(line.substr(first + 1, second - first - 1), entry.size)) {
        problem = "the size is not a number";
        return false;
    }
    if (!Digest::FromHex(line.substr(second + 1), HashType::kSha256, entry.sha256)) {
        problem = "the hash is not a SHA-256 (64 hex digits)";
        return false;
    }
    if (!entries.emplace(std::string(name), entry).second) {
        problem = "\"" + std::string(name.substr(0, 200)) + "\" is listed twice";
        return false;
    }
    return true;
}

const ContainerIndex::Entry* ContainerIndex::Find(const std::string& name) const {
    const auto found = entries.find(name);
    return found == entries.end() ? nullptr : &found->second;
}

}  // namespace devicescan::scan
