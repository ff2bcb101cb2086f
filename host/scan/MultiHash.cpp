#include "host/scan/MultiHash.h"

#include "host/scan/HashObject.h"

namespace devicescan::scan {

namespace {

constexpr HashType kAllTypes[] = {HashType::kMd5, HashType::kSha1, HashType::kSha256};

}  // namespace

struct MultiHash::Hashes {
    HashObject of[kHashTypeCount];
};

MultiHash::MultiHash() : hashes(std::make_unique<Hashes>()) {}
MultiHash::~MultiHash() = default;

bool MultiHash::Available() noexcept {
    return HashObject::ProvidersAvailable();
}

bool MultiHash::Begin(HashTypeMask types) {
    Reset();
    if (types != 0 && !Available()) {
        return false;
    }
    for (const HashType type : kAllTypes) {
        if ((types & MaskOf(type)) == 0) {
            continue;
        }
        if (!hashes->of[static_cast<std::size_t>(type)].Begin(type)) {
            Reset();
            return false;
        }
        active |= MaskOf(type);
    }
    return true;
}

bool MultiHash::Add(const std::uint8_t* data, std::size_t size) {
    for (const HashType type : kAllTypes) {
        if ((active & MaskOf(type)) &&
            !hashes->of[static_cast<std::size_t>(type)].Add(data, size)) {
            return false;
        }
    }
    return true;
}

bool MultiHash::Finish(FileDigests& digests) {
    for (const HashType type : kAllTypes) {
        if ((active & MaskOf(type)) == 0) {
            continue;
        }
        if (!hashes->of[static_cast<std::size_t>(type)].Finish(
                digests.digests[static_cast<std::size_t>(type)])) {
            Reset();
            return false;
        }
        digests.present |= MaskOf(type);
    }
    active = 0;
    return true;
}

void MultiHash::Reset() noexcept {
    for (HashObject& hash : hashes->of) {
        hash.Reset();
    }
    active = 0;
}

}  // namespace devicescan::scan
