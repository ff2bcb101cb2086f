#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/scan/Digest.h"
#include "host/scan/FileDigests.h"
#include "host/scan/HashType.h"
#include "host/scan/SignatureLine.h"

namespace devicescan::scan {

// Every loaded signature, kept compact and sorted for lookup by file size first, then digest.
// One table per hash type of fixed-size records (digest, size, name index); names are stored
// once each in a shared pool, since feeds repeat a few names over many entries, and an unnamed
// list entry stores no name of its own (its name is made from the list's and the digest).
//
// Beside the signatures it keeps the allowlist (files never reported, by digest and size), the
// names never reported, and how many database files of kinds it does not read were passed over.
//
// Life: Add while loading, then Seal once; after Seal the database is read-only and any
// number of threads may query it at once.
class SignatureDatabase {
  public:
    SignatureDatabase();
    SignatureDatabase(const SignatureDatabase&) = delete;
    SignatureDatabase& operator=(const SignatureDatabase&) = delete;
    SignatureDatabase(SignatureDatabase&&) noexcept;
    SignatureDatabase& operator=(SignatureDatabase&&) noexcept;
    ~SignatureDatabase();

    // Makes room for count more signatures of type (a loader's estimate: the lines of a file).
    void Reserve(HashType type, std::size_t count);
    void Add(const SignatureLine& signature);
    // A file of this digest and size (or any size) is never reported; the name is not kept.
    void Allow(const SignatureLine& entry);
    // Signatures of this name are never reported.
    void Ignore(std::string_view name);
    // One more database file of this kind (its extension, e.g. ".ndb") was passed over.
    void CountSkipped(std::string_view kind);
    // Sorts the tables, drops exact duplicates and frees what loading needed.
    void Seal();

    // Signatures, without the allowlist.
    std::size_t Count() const noexcept;
    std::size_t AllowedCount() const noexcept;
    // Distinct ignored names (after Seal; before it, every name given).
    std::size_t IgnoredCount() const noexcept { return ignored.size(); }
    // Each kind of database file passed over and how many of it, by kind.
    std::vector<std::pair<std::string, std::uint64_t>> SkippedKinds() const;
    std::size_t DatabaseCount() const noexcept { return databases; }
    void CountDatabase() noexcept { ++databases; }
    // Heap bytes the tables and names take (for the benchmark's bytes per signature).
    std::size_t MemoryBytes() const noexcept;

    // The hash types a file of this size must be hashed with: anyway (those the caller needs
    // for itself) and those with a signature of exactly this size or of any size; when that is
    // not 0, also those with an allowlist entry that could clear the file. 0: the file need not
    // be read.
    HashTypeMask NeededFor(std::uint64_t size, HashTypeMask anyway = 0) const noexcept;

    // Whether one of the digests, with this size, is on the allowlist: then nothing is reported
    // for the file.
    bool IsAllowed(std::uint64_t size, const FileDigests& digests) const;

    // Whether signatures of this name are never reported (after Seal).
    bool IsIgnored(std::string_view name) const;
    // The hash types of all signatures, and then of the allowlist: what content of a size not
    // known in advance needs.
    HashTypeMask TypesPresent() const noexcept;

    // Appends to names each distinct signature name (UTF-8) that matches a file of this size
    // with this digest and is not ignored; names already in the vector are not added again.
    void Find(std::uint64_t size, const Digest& digest, std::vector<std::string>& names) const;

  private:
    struct Tables;
    std::unique_ptr<Tables> tables;
    std::size_t databases = 0;
    std::vector<std::string> ignored;                            // sorted and unique after Seal
    std::vector<std::pair<std::string, std::uint64_t>> skipped;  // by kind
};

}  // namespace devicescan::scan
