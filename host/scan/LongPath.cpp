#include "host/scan/LongPath.h"

#include "host/scan/FullPathName.h"

namespace devicescan::scan {

std::wstring LongPathOf(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) {
        return path;
    }
    const std::optional<std::wstring> absolute = FullPathName(path);
    if (!absolute) {
        return path;
    }
    const std::wstring& full = *absolute;
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        return L"\\\\?\\" + full;
    }
    return full;
}

}  // namespace devicescan::scan
