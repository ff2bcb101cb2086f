#include "host/scan/DatabaseKind.h"

namespace devicescan::scan {

std::string LowerExtensionOf(std::string_view fileName) {
    const std::size_t slash = fileName.find_last_of("\\/");
    if (slash != std::string_view::npos) {
        fileName.remove_prefix(slash + 1);
    }
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    std::string extension(fileName.substr(dot));
    for (char& c : extension) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    return extension;
}

DatabaseKind DatabaseKindOf(std::string_view fileName) {
    const std::string extension = LowerExtensionOf(fileName);
    const struct {
        const char* extension;
        DatabaseKind kind;
    } kinds[] = {
        {".hdb", DatabaseKind::kMd5Signatures}, {".hdu", DatabaseKind::kMd5Signatures},
        {".hsb", DatabaseKind::kShaSignatures}, {".hsu", DatabaseKind::kShaSignatures},
        {".sha256", DatabaseKind::kHashList},   {".txt", DatabaseKind::kHashList},
        {".fp", DatabaseKind::kMd5Allowlist},   {".sfp", DatabaseKind::kShaAllowlist},
        {".ign2", DatabaseKind::kIgnoredNames}, {".cvd", DatabaseKind::kContainer},
        {".cld", DatabaseKind::kContainer},     {".cud", DatabaseKind::kContainer},
    };
    for (const auto& entry : kinds) {
        if (extension == entry.extension) {
            return entry.kind;
        }
    }
    return DatabaseKind::kNone;
}

DatabaseKind DatabaseKindOf(std::wstring_view fileName) {
    // Only ASCII extensions are known: anything else is dropped to '?' and matches none.
    std::string narrow(fileName.size(), '?');
    for (std::size_t i = 0; i < fileName.size(); ++i) {
        narrow[i] = fileName[i] < 0x80 ? static_cast<char>(fileName[i]) : '?';
    }
    return DatabaseKindOf(std::string_view(narrow));
}

}  // namespace devicescan::scan
