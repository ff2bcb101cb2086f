#pragma once

#include <algorithm>
#include <cstring>
#include <span>

#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan::archive {

// A few bytes read ahead to look at them (an archive's magic, a container's header), then the
// rest of the source they came from, as if nothing had been read. The bytes stay the caller's
// and must outlive the source.
class ReplaySource final : public ByteSource {
  public:
    ReplaySource(std::span<const std::uint8_t> head, ByteSource& below) noexcept
        : head(head), below(below) {}

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override {
        if (!head.empty()) {
            const std::size_t take = std::min(size, head.size());
            std::memcpy(buffer, head.data(), take);
            head = head.subspan(take);
            return take;
        }
        const std::size_t got = below.Read(buffer, size);
        return got != 0 ? got : StopAs(below, false);
    }

    std::span<const std::uint8_t> head;
    ByteSource& below;
};

}  // namespace devicescan::scan::archive
