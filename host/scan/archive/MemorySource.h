#pragma once

#include <algorithm>
#include <cstring>
#include <span>

#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan::archive {

// Bytes already in memory (a header read ahead, a test's archive); the memory stays the caller's
// and must outlive the source.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) noexcept : bytes(bytes) {}

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override {
        const std::size_t take = std::min(size, bytes.size());
        if (take != 0) {
            std::memcpy(buffer, bytes.data(), take);
        }
        bytes = bytes.subspan(take);
        return take;
    }

    std::span<const std::uint8_t> bytes;
};

}  // namespace devicescan::scan::archive
