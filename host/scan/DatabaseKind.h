#pragma once

#include <string>
#include <string_view>

namespace devicescan::scan {

// What a database file holds, by its extension (either case).
enum class DatabaseKind {
    kNone,           // not a file the loader reads
    kMd5Signatures,  // .hdb, .hdu
    kShaSignatures,  // .hsb, .hsu
    kHashList,       // .sha256, .txt
    kMd5Allowlist,   // .fp: files never reported, in the .hdb form
    kShaAllowlist,   // .sfp: the same in the .hsb form
    kIgnoredNames,   // .ign2: signature names never reported
    kContainer,      // .cvd, .cld, .cud: a signed bundle of database files
};

DatabaseKind DatabaseKindOf(std::wstring_view fileName);
DatabaseKind DatabaseKindOf(std::string_view fileName);

// The extension of fileName in lower case with its dot (".ndb"), or "" when it has none.
std::string LowerExtensionOf(std::string_view fileName);

}  // namespace devicescan::scan
