#pragma once

#include <string>
#include <string_view>

#include "host/scan/SignatureLine.h"

namespace devicescan::scan {

// Reads the lines of an ignore list (.ign2): one signature name a line, which is never
// reported. Anything after a colon (some lists add the signature's digest there) is dropped, as
// are blanks around the name; blank lines are skipped.
class IgnoreListParser {
  public:
    enum class Result { kSignature, kNothing, kMalformed };
    // signature.name gets the name; nothing else is set. Never kMalformed: any text is a name.
    Result Parse(std::string_view line, SignatureLine& signature, std::string& problem) const;
};

}  // namespace devicescan::scan
