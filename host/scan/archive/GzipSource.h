#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "host/scan/archive/BufferedInput.h"
#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan::archive {

// The inflated content of a gzip stream read from another source: one member, or several one
// after another (their contents joined, as gunzip gives them). Each member's header, CRC-32 and
// length are checked: a bad header or check value, a stream cut short, or bytes after the last
// member that are neither another member nor zero padding end it as damaged. At most maxOutput
// bytes come out; a stream with more ends as limited there.
//
// Memory: a read-ahead buffer and one inflate state, whatever the stream's size.
// Threads: the reader's.
class GzipSource final : public ByteSource {
  public:
    static constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

    // Whether bytes start like a gzip member (its magic and the deflate method).
    static bool StartsGzip(const std::uint8_t* bytes, std::size_t size) noexcept;

    explicit GzipSource(ByteSource& input, std::uint64_t maxOutput = kNoLimit);
    ~GzipSource() override;

    // The file name the first member's header carries, as UTF-8 (empty when it has none or its
    // header has not been read yet: it has once a read gave bytes).
    std::string FileName() const;
    std::uint64_t MembersRead() const noexcept { return members; }
    std::uint64_t BytesOut() const noexcept { return produced; }

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override;
    std::size_t Inflate(std::uint8_t* buffer, std::size_t size);
    // After a member: true when another member follows (the state is ready for it).
    bool NextMember();

    struct State;
    std::unique_ptr<State> state;
    BufferedInput input;
    std::uint64_t maxOutput;
    std::uint64_t produced = 0;
    std::uint64_t members = 0;
    bool memberDone = false;
};

}  // namespace devicescan::scan::archive
