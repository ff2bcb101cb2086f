#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "host/scan/SignatureLine.h"

namespace devicescan::scan {

// Reads the lines of a plain hash list: one SHA-256 (64 hex digits) a line, optionally followed
// by white space and a name; "#" starts a comment. Every entry matches a file of any size.
// An entry without a name is named after the list: "<file stem>.<first 12 hex digits>", so a
// detection still tells which list and which entry caught it.
class HashListParser {
  public:
    // listStem: the list's file name without folder and extension (UTF-8).
    explicit HashListParser(std::string listStem) : listStem(std::move(listStem)) {}

    enum class Result { kSignature, kNothing, kMalformed };
    // kNothing for blank and comment lines; kMalformed with problem set.
    Result Parse(std::string_view line, SignatureLine& signature, std::string& problem) const;

  private:
    std::string listStem;
};

}  // namespace devicescan::scan
