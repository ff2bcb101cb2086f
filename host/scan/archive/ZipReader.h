#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/scan/archive/BufferedInput.h"
#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan::archive {

// One member of a zip archive, as its local header describes it.
struct ZipEntry {
    std::string name;        // UTF-8: as stored under the UTF-8 flag, else from code page 437
    std::uint64_t size = 0;  // uncompressed; only when sizeKnown
    std::uint64_t compressedSize = 0;  // only when sizeKnown
    bool sizeKnown = false;  // false when a data descriptor after the data gives the sizes
    bool directory = false;
    bool encrypted = false;
    std::uint16_t method = 0;  // 0 stored, 8 deflate; others cannot be read

    bool IsReadable() const noexcept { return !encrypted && (method == 0 || method == 8); }
};

// Reads a zip archive front to back from its local headers, without seeking (so that it works
// on a zip that is itself being inflated out of another archive): stored and deflated members,
// sizes from the header, its ZIP64 extra field or a data descriptor after the data (with or
// without its signature, of 32- or 64-bit sizes). The central directory is where the members
// end; it is not read.
//
// After Next, a readable entry's data comes from Data(): inflated, never more than the header
// declared, its CRC-32 and sizes checked at its end (a mismatch ends it as damaged). The next
// call to Next passes over what was not read: without inflating when the compressed size is
// known, by inflating to the end of the deflate stream when only a descriptor tells it. A
// member whose end cannot be found (an encrypted or stored one with a descriptor) ends the
// archive as damaged; so does any header that is not what it should be.
//
// Memory: a read-ahead buffer and one inflate state. Threads: the reader's.
class ZipReader {
  public:
    // Whether bytes start with a local file header's signature.
    static bool StartsZip(const std::uint8_t* bytes, std::size_t size) noexcept;

    explicit ZipReader(ByteSource& input);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // The next member; false at the end of the members (Ended says how it ended).
    bool Next(ZipEntry& entry);
    // The current member's data (only for a readable entry; others end at once as damaged).
    ByteSource& Data() noexcept;

    ByteSource::End Ended() const noexcept { return end; }

  private:
    class EntryData;

    bool ReadHeader(ZipEntry& entry);
    bool PassOverData();
    bool Finish(ByteSource::End why) noexcept {
        end = why;
        return false;
    }

    BufferedInput input;
    std::unique_ptr<EntryData> data;
    ZipEntry current;
    ByteSource::End end = ByteSource::End::kNotYet;
    bool inEntry = false;
};

}  // namespace devicescan::scan::archive
