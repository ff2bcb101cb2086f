#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan::archive {

// A read-ahead buffer over a ByteSource, for readers that look at small headers before they
// decide what comes next: Fill makes a header's bytes available at Data() without a read of the
// source per field. Large reads bypass the buffer once it is empty.
//
// Threads: the reader's.
class BufferedInput {
  public:
    static constexpr std::size_t kDefaultSize = 64 * 1024;

    explicit BufferedInput(ByteSource& below, std::size_t capacity = kDefaultSize)
        : below(below), buffer(capacity) {}
    BufferedInput(const BufferedInput&) = delete;
    BufferedInput& operator=(const BufferedInput&) = delete;

    // Reads until at least count bytes are buffered (count at most the capacity) or the source
    // ends; the number buffered.
    std::size_t Fill(std::size_t count);
    const std::uint8_t* Data() const noexcept { return buffer.data() + start; }
    std::size_t Available() const noexcept { return stop - start; }
    void Consume(std::size_t count) noexcept { start += count < Available() ? count : Available(); }

    // Up to size bytes: first those buffered, then from the source.
    std::size_t Read(std::uint8_t* into, std::size_t size);
    // Passes over count bytes; the number passed (fewer only at the source's end).
    std::uint64_t Skip(std::uint64_t count);

    // How the source below ended (kNotYet while it has not).
    const ByteSource& Below() const noexcept { return below; }

  private:
    ByteSource& below;
    std::vector<std::uint8_t> buffer;
    std::size_t start = 0;
    std::size_t stop = 0;
};

}  // namespace devicescan::scan::archive
