#pragma once

#include <optional>
#include <string>

#include "host/scan/ContainerHeader.h"
#include "host/scan/DatabaseError.h"
#include "host/scan/SignatureDatabase.h"
#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan {

// Loads a signature container (.cvd, .cld, .cud): its header, then a tar archive, gzip'd or
// plain, of database files and NAME.info, the list of those files with their sizes and SHA-256
// digests. Everything streams through once: each inner file is hashed and its lines parsed as
// it is unpacked, and nothing is held whole, whatever sizes the container declares.
//
// Checked, each refusing the whole container: the header (ContainerHeader), for a .cvd the MD5
// of everything after it, the archive's framing, and every inner file against the list (its
// size and digest; none missing; none unlisted but COPYING). Loaded from inside: .hdb, .hsb,
// .hdu, .hsu, .fp, .sfp and .ign2 files; every other kind is counted in the database as skipped.
// The header's digital signature is not verified (it needs the publisher's key).
//
// Threads: the caller's, as the database's while loading.
class ContainerLoader {
  public:
    explicit ContainerLoader(SignatureDatabase& database) noexcept : database(database) {}

    // Reads and checks the header of the container at path.
    static std::optional<DatabaseError> ReadHeader(const std::wstring& path,
                                                   ContainerHeader& header);

    // Loads the container at path; nothing on success, the first fault otherwise.
    std::optional<DatabaseError> Load(const std::wstring& path);
    // Loads a container from bytes, from its first byte; name stands for it in errors and tells
    // a .cvd by its extension.
    std::optional<DatabaseError> Load(const std::wstring& name, archive::ByteSource& bytes);

  private:
    SignatureDatabase& database;
};

}  // namespace devicescan::scan
