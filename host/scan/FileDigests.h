#pragma once

#include "host/scan/Digest.h"
#include "host/scan/HashType.h"

namespace devicescan::scan {

// The digests of one file, for the hash types it was hashed with.
struct FileDigests {
    HashTypeMask present = 0;
    Digest digests[kHashTypeCount];

    bool Has(HashType type) const noexcept { return (present & MaskOf(type)) != 0; }
    const Digest& Of(HashType type) const noexcept {
        return digests[static_cast<std::size_t>(type)];
    }
};

}  // namespace devicescan::scan
