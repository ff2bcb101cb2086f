#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "host/scan/archive/BufferedInput.h"
#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan::archive {

// One entry of a tar archive.
struct TarEntry {
    enum class Kind : std::uint8_t { kFile, kDirectory, kLink, kOther };

    std::string name;        // the full name: pax path, GNU long name, or ustar prefix "/" name
    std::uint64_t size = 0;  // the bytes of data that follow the header
    Kind kind = Kind::kFile;
};

// Reads a tar archive from a source, entry by entry: ustar (a name of up to 255 bytes in two
// fields), pax (the path and size of an 'x' extended header), GNU ('L' long names, base-256
// sizes) and plain old headers. Extended headers ('x', 'g'), GNU long names and link names
// are taken in by the reader and never given out as entries. After Next, the entry's data can
// be read from Data(); the next call to Next passes over whatever of it was not read.
//
// The archive ends at its end-of-archive block or, cleanly too, at the end of the source on a
// block boundary; a header with a bad checksum or size, a cut block or cut data end it as
// damaged.
//
// Threads: the reader's.
class TarReader {
  public:
    static constexpr std::size_t kBlockSize = 512;

    // Whether block (512 bytes) is a tar header: its checksum field holds a number that equals
    // the sum of its bytes.
    static bool IsHeader(std::span<const std::uint8_t> block) noexcept;

    explicit TarReader(ByteSource& input) : input(input), data(*this) {}
    TarReader(const TarReader&) = delete;
    TarReader& operator=(const TarReader&) = delete;

    // The next entry; false at the end of the archive (Ended says how it ended).
    bool Next(TarEntry& entry);
    // The current entry's data: exactly its size in bytes, or damaged when the archive is cut.
    ByteSource& Data() noexcept { return data; }

    // kNotYet while entries may follow.
    ByteSource::End Ended() const noexcept { return end; }
    std::uint32_t Error() const noexcept { return input.Below().Error(); }

  private:
    // The data of the current entry, bounded to its size.
    class EntryData final : public ByteSource {
      public:
        explicit EntryData(TarReader& reader) noexcept : reader(reader) {}
        void Begin(std::uint64_t size) noexcept {
            Reopen();
            remaining = size;
        }
        std::uint64_t Remaining() const noexcept { return remaining; }

      private:
        std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override;
        TarReader& reader;
        std::uint64_t remaining = 0;
    };

    // Reads the next header block into block; false at the end (end set).
    bool ReadHeader(std::uint8_t* block);
    // Reads an extended header's or a long name's data (at most kMaxMetadata bytes).
    bool ReadMetadata(std::uint64_t size, std::string& text);
    bool ParsePax(const std::string& records);
    bool SkipData(std::uint64_t size);
    bool Finish(ByteSource::End why) noexcept {
        end = why;
        return false;
    }

    BufferedInput input;
    EntryData data;
    std::uint64_t padding = 0;  // after the current entry's data, to the next block
    ByteSource::End end = ByteSource::End::kNotYet;
    // Taken from extended headers for the entry that follows them.
    std::string paxPath;
    std::string longName;
    std::uint64_t paxSize = 0;
    bool hasPaxSize = false;
};

}  // namespace devicescan::scan::archive
