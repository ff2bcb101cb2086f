#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/scan/Digest.h"
#include "host/scan/HashType.h"
#include "host/scan/SignatureLine.h"

namespace devicescan::scan {

// Every loaded signature, kept compact and sorted for lookup by file size first, then digest.
// One table per hash type of fixed-size records (digest, size, name index); names are stored
// once each in a shared pool, since feeds repeat a few names over many entries, and an unnamed
// list entry stores no name of its own (its name is made from the list's and the digest).
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
    // Sorts the tables, drops exact duplicates and frees what loading needed.
    void Seal();

    std::size_t Count() const noexcept;
    std::size_t DatabaseCount() const noexcept { return databases; }
    void CountDatabase() noexcept { ++databases; }
    // Heap bytes the tables and names take (for the benchmark's bytes per signature).
    std::size_t MemoryBytes() const noexcept;

    // The hash types a file of this size must be hashed with: those with a signature of exactly
    // this size or of any size. 0: the file need not be read for the database.
    HashTypeMask NeededFor(std::uint64_t size) const noexcept;
    // The hash types of all signatures: what content of a size not known in advance needs.
    HashTypeMask TypesPresent() const noexcept;

    // Appends to names each distinct signature name (UTF-8) that matches a file of this size
    // with this digest; names already in the vector are not added again.
    void Find(std::uint64_t size, const Digest& digest, std::vector<std::string>& names) const;

  private:
    struct Tables;
    std::unique_ptr<Tables> tables;
    std::size_t databases = 0;
};

}  // namespace devicescan::scan
