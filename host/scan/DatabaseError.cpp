#include "host/scan/DatabaseError.h"

namespace devicescan::scan {

std::wstring DatabaseError::Message() const {
    const std::wstring where = member.empty() ? path : path + L" [" + member + L"]";
    if (line == 0) {
        return where + L": " + problem;
    }
    return where + L":" + std::to_wstring(line) + L": " + problem;
}

}  // namespace devicescan::scan
