#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/scan/DatabaseError.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::scan {

// Loads database files into a SignatureDatabase by their extension: .hdb and .hdu (MD5
// signatures), .hsb and .hsu (SHA-1 and SHA-256 signatures), .sha256 and .txt (plain SHA-256
// lists), .fp and .sfp (allowlists in the .hdb and .hsb forms), .ign2 (names never reported),
// and the containers .cvd, .cld and .cud that bundle such files (ContainerLoader). A folder
// loads every such file directly in it (not below); other files there are ignored, and of
// several containers of one database only the one of the highest version is loaded. Either the
// whole file loads or the load fails: a malformed line, an unreadable file, a container that
// fails a check, a file of another type named directly, or a folder without a database file is
// an error (the database then holds part of what was read, and is to be dropped).
//
// Threads: the caller's; the database is not shared until Seal.
class DatabaseLoader {
  public:
    explicit DatabaseLoader(SignatureDatabase& database) noexcept : database(database) {}

    // Loads path (a file or a folder); nothing on success, the first error otherwise.
    std::optional<DatabaseError> Load(const std::wstring& path);
    // Loads every path in turn, then seals the database (also when paths is empty).
    std::optional<DatabaseError> LoadAll(const std::vector<std::wstring>& paths);

  private:
    std::optional<DatabaseError> LoadFolder(const std::wstring& path);
    std::optional<DatabaseError> LoadFile(const std::wstring& path);

    SignatureDatabase& database;
};

}  // namespace devicescan::scan
