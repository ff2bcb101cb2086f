#include "host/scan/archive/GzipSource.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "host/scan/archive/NameText.h"

namespace devicescan::scan::archive {

namespace {

constexpr int kGzipWindowBits = 15 + 16;  // the largest window, with the gzip header and trailer
constexpr std::size_t kNameCapacity = 1024;

}  // namespace

struct GzipSource::State {
    z_stream stream{};
    gz_header header{};
    unsigned char name[kNameCapacity] = {};
    bool ready = false;

    State() {
        ready = inflateInit2(&stream, kGzipWindowBits) == Z_OK;
        Watch();
    }
    ~State() {
        if (ready) {
            inflateEnd(&stream);
        }
    }
    void Watch() {
        header = {};
        header.name = name;
        header.name_max = kNameCapacity - 1;
        if (ready) {
            inflateGetHeader(&stream, &header);
        }
    }
};

bool GzipSource::StartsGzip(const std::uint8_t* bytes, std::size_t size) noexcept {
    return size >= 3 && bytes[0] == 0x1F && bytes[1] == 0x8B && bytes[2] == 8;
}

GzipSource::GzipSource(ByteSource& input, std::uint64_t maxOutput)
    : state(std::make_unique<State>()), input(input), maxOutput(maxOutput) {}

GzipSource::~GzipSource() = default;

std::string GzipSource::FileName() const {
    if (members > 0 || state->header.done == 1) {
        const auto* name = reinterpret_cast<const char*>(state->name);
        return FromLatin1(std::string_view(name, strnlen(name, kNameCapacity)));
    }
    return {};
}

std::size_t GzipSource::ReadSome(std::uint8_t* buffer, std::size_t size) {
    if (!state->ready) {
        return Stop(End::kReadFailed, 8 /* ERROR_NOT_ENOUGH_MEMORY */);
    }
    if (produced < maxOutput) {
        const std::size_t got = Inflate(
            buffer, static_cast<std::size_t>(std::min<std::uint64_t>(size, maxOutput - produced)));
        produced += got;
        return got;
    }
    // At the cap: the stream is limited only when it has more to give.
    std::uint8_t probe;
    return Inflate(&probe, 1) == 0 ? 0 : Stop(End::kLimited);
}

std::size_t GzipSource::Inflate(std::uint8_t* buffer, std::size_t size) {
    for (;;) {
        if (memberDone && !NextMember()) {
            return 0;
        }
        if (input.Available() == 0 && input.Fill(1) == 0) {
            return StopAs(input.Below(), true);  // cut short inside a member
        }
        z_stream& stream = state->stream;
        stream.next_in = const_cast<Bytef*>(input.Data());
        stream.avail_in = static_cast<uInt>(input.Available());
        stream.next_out = buffer;
        stream.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        const int status = inflate(&stream, Z_NO_FLUSH);
        input.Consume(input.Available() - stream.avail_in);
        const std::size_t got = static_cast<std::size_t>(stream.next_out - buffer);
        if (status == Z_STREAM_END) {
            ++members;
            memberDone = true;
        } else if (status != Z_OK) {
            return got != 0 ? got : Stop(End::kDamaged);
        }
        if (got != 0) {
            return got;
        }
    }
}

bool GzipSource::NextMember() {
    if (input.Fill(2) == 0) {
        if (input.Below().Ended() != End::kFinished) {
            StopAs(input.Below(), false);
        }
        return false;
    }
    if (input.Available() >= 2 && input.Data()[0] == 0x1F && input.Data()[1] == 0x8B) {
        inflateReset(&state->stream);
        memberDone = false;
        return true;
    }
    // Zero padding after the last member (as tape blocks leave) ends the stream cleanly.
    while (input.Fill(1) != 0) {
        const std::uint8_t* data = input.Data();
        const std::size_t zeros = std::find_if(data, data + input.Available(),
                                               [](std::uint8_t byte) { return byte != 0; }) -
                                  data;
        if (zeros != input.Available()) {
            Stop(End::kDamaged);
            return false;
        }
        input.Consume(zeros);
    }
    if (input.Below().Ended() != End::kFinished) {
        StopAs(input.Below(), false);
    }
    return false;
}

}  // namespace devicescan::scan::archive
