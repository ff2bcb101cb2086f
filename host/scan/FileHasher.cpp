#include "host/scan/FileHasher.h"

#include <algorithm>

#include "host/scan/MultiHash.h"

namespace devicescan::scan {

struct FileHasher::State {
    std::vector<std::uint8_t> block = std::vector<std::uint8_t>(kBlockSize);
    MultiHash hash;
};

FileHasher::FileHasher() : state(std::make_unique<State>()) {}
FileHasher::~FileHasher() = default;

bool FileHasher::IsValid() const noexcept {
    return MultiHash::Available();
}

FileHasher::Result FileHasher::Hash(HANDLE file, HashTypeMask types, const CancelFlag& cancel) {
    Result result;
    const auto fail = [&](DWORD error) {
        state->hash.Reset();
        result.outcome = Outcome::kReadFailed;
        result.error = error;
        return result;
    };
    if (!IsValid() || !state->hash.Begin(types)) {
        return fail(ERROR_NOT_SUPPORTED);
    }
    for (;;) {
        if (cancel.IsSet()) {
            state->hash.Reset();
            result.outcome = Outcome::kCancelled;
            return result;
        }
        DWORD read = 0;
        if (!ReadFile(file, state->block.data(), static_cast<DWORD>(kBlockSize), &read, nullptr)) {
            return fail(GetLastError());
        }
        if (read == 0) {
            break;
        }
        if (result.head.size() < kHeadSize) {
            const std::size_t take = std::min<std::size_t>(kHeadSize - result.head.size(), read);
            result.head.insert(result.head.end(), state->block.begin(),
                               state->block.begin() + take);
        }
        result.bytesRead += read;
        if (!state->hash.Add(state->block.data(), read)) {
            return fail(ERROR_INVALID_DATA);
        }
    }
    if (!state->hash.Finish(result.digests)) {
        return fail(ERROR_INVALID_DATA);
    }
    return result;
}

bool FileHasher::HashBytes(HashType type, const void* data, std::size_t size, Digest& digest) {
    MultiHash hash;
    FileDigests digests;
    if (!hash.Begin(MaskOf(type)) || !hash.Add(static_cast<const std::uint8_t*>(data), size) ||
        !hash.Finish(digests)) {
        return false;
    }
    digest = digests.Of(type);
    return true;
}

}  // namespace devicescan::scan
