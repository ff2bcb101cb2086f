#include "host/scan/DatabaseError.h"

namespace devicescan::scan {

std::wstring DatabaseError::Message() const {
    if (line == 0) {
        return path + L": " + problem;
    }
    return path + L":" + std::to_wstring(line) + L": " + problem;
}

}  // namespace devicescan::scan
