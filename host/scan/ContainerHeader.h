#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/scan/Digest.h"

namespace devicescan::scan {

// The text header that opens a signature container (.cvd, .cld, .cud): 512 bytes,
// "ClamAV-VDB:TIME:VERSION:SIGNATURES:LEVEL:MD5:DSIG:BUILDER:STIME" padded with spaces. TIME
// writes its colons as '-'; MD5 is the digest of everything after the header (32 hex digits,
// or X where the builder gave none); DSIG is a signature over it, which is not checked here.
struct ContainerHeader {
    static constexpr std::size_t kSize = 512;

    std::uint64_t version = 0;
    std::uint64_t signatures = 0;
    std::uint64_t level = 0;  // the functionality level the signatures need
    bool hasMd5 = false;
    Digest md5;
    std::string builder;

    // Parses the first kSize bytes of a container, strictly: the prefix, nine fields, decimal
    // numbers, and nothing but spaces after the text. False with problem set otherwise.
    static bool Parse(std::string_view bytes, ContainerHeader& header, std::string& problem);
};

}  // namespace devicescan::scan
