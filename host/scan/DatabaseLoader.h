#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/scan/DatabaseError.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::scan {

// Loads database files into a SignatureDatabase by their extension: .hdb (MD5 signatures),
// .hsb (SHA-1 and SHA-256 signatures), .sha256 and .txt (plain SHA-256 lists). A folder loads
// every such file directly in it (not below); other files there are ignored. Either the whole
// file loads or the load fails: a malformed line, an unreadable file, a file of another type
// named directly, or a folder without a database file is an error.
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
