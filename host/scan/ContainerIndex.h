#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "host/scan/Digest.h"

namespace devicescan::scan {

// The list of a container's files, its NAME.info: a header line first (the container's own,
// "ClamAV-VDB:..."), then one "NAME:SIZE:SHA256" line for each file, then, in signed ones,
// "DSIG:..." lines, which are not checked. Lines are taken one at a time as the file streams.
class ContainerIndex {
  public:
    struct Entry {
        std::uint64_t size = 0;
        Digest sha256;
    };

    // One line of the file (without its line end; a trailing CR is tolerated), in order.
    // False with problem set when it is malformed.
    bool AddLine(std::string_view line, std::string& problem);

    // The entry listing name, or nullptr.
    const Entry* Find(const std::string& name) const;
    const std::map<std::string, Entry>& Entries() const noexcept { return entries; }

  private:
    std::map<std::string, Entry> entries;
    bool headerSeen = false;
};

}  // namespace devicescan::scan
