#include "host/scan/archive/BufferedInput.h"

#include <algorithm>
#include <cstring>

namespace devicescan::scan::archive {

std::size_t BufferedInput::Fill(std::size_t count) {
    count = std::min(count, buffer.size());
    if (Available() >= count) {
        return Available();
    }
    if (buffer.size() - start < count) {
        std::memmove(buffer.data(), buffer.data() + start, Available());
        stop -= start;
        start = 0;
    }
    while (Available() < count) {
        const std::size_t got = below.Read(buffer.data() + stop, buffer.size() - stop);
        if (got == 0) {
            break;
        }
        stop += got;
    }
    return Available();
}

std::size_t BufferedInput::Read(std::uint8_t* into, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    if (Available() == 0) {
        start = stop = 0;
        if (size >= buffer.size()) {
            return below.Read(into, size);
        }
        Fill(1);
    }
    const std::size_t take = std::min(size, Available());
    std::memcpy(into, Data(), take);
    start += take;
    return take;
}

std::uint64_t BufferedInput::Skip(std::uint64_t count) {
    std::uint64_t skipped = 0;
    while (skipped < count) {
        if (Available() == 0 && Fill(1) == 0) {
            break;
        }
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - skipped, Available()));
        start += take;
        skipped += take;
    }
    return skipped;
}

}  // namespace devicescan::scan::archive
