#pragma once

#include <string>
#include <string_view>

#include "host/scan/SignatureLine.h"

namespace devicescan::scan {

// Reads the lines of the hash-signature databases: "HASH:SIZE:NAME" with an optional
// ":FLEVEL" after the name. SIZE is a decimal above zero or "*" (any size). In an .hdb file
// HASH is an MD5; in an .hsb file a SHA-1 or a SHA-256, told apart by its length.
class HashSignatureParser {
  public:
    enum class Kind { kMd5Only, kSha1OrSha256 };

    explicit HashSignatureParser(Kind kind) noexcept : kind(kind) {}

    enum class Result { kSignature, kNothing, kMalformed };
    // line: without its line end (a trailing CR is tolerated). kNothing for a blank line;
    // kMalformed with problem set to what is wrong (one phrase, no file or line number).
    Result Parse(std::string_view line, SignatureLine& signature, std::string& problem) const;

  private:
    Kind kind;
};

}  // namespace devicescan::scan
