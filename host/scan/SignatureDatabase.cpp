#include "host/scan/SignatureDatabase.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace devicescan::scan {

namespace {

// A name reference with this bit set names an unnamed list entry: the rest is the offset of the
// list's stem, and the name is "<stem>.<first 12 hex digits of the digest>".
constexpr std::uint32_t kDerivedName = 0x80000000u;
constexpr std::size_t kDerivedHexDigits = 12;

// One signature: digest, size and name reference, 4-byte aligned so that a SHA-256 record
// takes 44 bytes.
template <std::size_t N>
struct Record {
    std::uint8_t digest[N];
    std::uint32_t sizeLow;
    std::uint32_t sizeHigh;
    std::uint32_t name;

    std::uint64_t Size() const noexcept { return std::uint64_t{sizeHigh} << 32 | sizeLow; }
};

template <std::size_t N>
bool KeyLess(const Record<N>& a, const Record<N>& b) noexcept {
    if (a.Size() != b.Size()) {
        return a.Size() < b.Size();
    }
    return std::memcmp(a.digest, b.digest, N) < 0;
}

template <std::size_t N>
bool SameKey(const Record<N>& a, const Record<N>& b) noexcept {
    return a.Size() == b.Size() && std::memcmp(a.digest, b.digest, N) == 0;
}

template <std::size_t N>
class Table {
  public:
    void Add(const Digest& digest, std::uint64_t size, std::uint32_t name) {
        Record<N> record;
        std::memcpy(record.digest, digest.bytes.data(), N);
        record.sizeLow = static_cast<std::uint32_t>(size);
        record.sizeHigh = static_cast<std::uint32_t>(size >> 32);
        record.name = name;
        records.push_back(record);
    }

    void Reserve(std::size_t count) { records.reserve(records.size() + count); }
    bool IsEmpty() const noexcept { return records.empty(); }

    void Seal() {
        std::sort(records.begin(), records.end(), [](const Record<N>& a, const Record<N>& b) {
            return KeyLess(a, b) || (SameKey(a, b) && a.name < b.name);
        });
        records.erase(std::unique(records.begin(), records.end(),
                                  [](const Record<N>& a, const Record<N>& b) {
                                      return SameKey(a, b) && a.name == b.name;
                                  }),
                      records.end());
        records.shrink_to_fit();
        anySize = !records.empty() && records.back().Size() == SignatureLine::kAnySize;
    }

    bool HasSize(std::uint64_t size) const noexcept {
        if (anySize) {
            return true;
        }
        const auto found =
            std::lower_bound(records.begin(), records.end(), size,
                             [](const Record<N>& r, std::uint64_t s) { return r.Size() < s; });
        return found != records.end() && found->Size() == size;
    }

    // Calls each(nameReference) for every record with this size and digest.
    template <typename Each>
    void ForEach(std::uint64_t size, const Digest& digest, Each&& each) const {
        Record<N> key;
        std::memcpy(key.digest, digest.bytes.data(), N);
        key.sizeLow = static_cast<std::uint32_t>(size);
        key.sizeHigh = static_cast<std::uint32_t>(size >> 32);
        auto [first, last] = std::equal_range(records.begin(), records.end(), key, KeyLess<N>);
        for (; first != last; ++first) {
            each(first->name);
        }
    }

    std::size_t Count() const noexcept { return records.size(); }
    std::size_t MemoryBytes() const noexcept { return records.capacity() * sizeof(Record<N>); }

  private:
    std::vector<Record<N>> records;
    bool anySize = false;
};

static_assert(sizeof(Record<32>) == 44);

}  // namespace

// The names in a pool, each ended by '\0', and while loading an open-addressing table of their
// offsets that finds a name already there without a string or an allocation of its own per name
// (feeds of a million signatures may carry a million names). Each slot keeps the low half of
// its name's hash beside the offset: a probe compares the pool's text only when that matches,
// and growing places the names again without reading them.
class NamePool {
  public:
    // The offset of name, added unless it is there.
    std::uint32_t Intern(std::string_view name) {
        if (2 * (count + 1) > slots.size()) {
            Grow();
        }
        const auto hash = static_cast<std::uint32_t>(std::hash<std::string_view>()(name));
        const std::size_t mask = slots.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            if (slots[slot] == kEmpty) {
                const std::uint32_t offset = Append(name);
                slots[slot] = std::uint64_t{hash} << 32 | offset;
                ++count;
                return offset;
            }
            const auto offset = static_cast<std::uint32_t>(slots[slot]);
            if (slots[slot] >> 32 == hash && At(offset) == name) {
                return offset;
            }
        }
    }
    void Seal() {
        // Assigning {} would keep the table's memory (an empty initializer list assigns).
        std::vector<std::uint64_t>().swap(slots);
        count = 0;
        text.shrink_to_fit();
    }
    const char* At(std::uint32_t offset) const noexcept { return text.c_str() + offset; }
    std::size_t MemoryBytes() const noexcept { return text.capacity(); }

  private:
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

    std::uint32_t Append(std::string_view name) {
        const auto offset = static_cast<std::uint32_t>(text.size());
        text.append(name).push_back('\0');
        return offset;
    }
    void Grow() {
        std::vector<std::uint64_t> old(std::max<std::size_t>(64, slots.size() * 2), kEmpty);
        old.swap(slots);
        const std::size_t mask = slots.size() - 1;
        for (const std::uint64_t entry : old) {
            if (entry == kEmpty) {
                continue;
            }
            std::size_t slot = (entry >> 32) & mask;
            while (slots[slot] != kEmpty) {
                slot = (slot + 1) & mask;
            }
            slots[slot] = entry;
        }
    }

    std::string text;
    // Loading only: the hash's low half above the offset in each used slot, kEmpty elsewhere.
    std::vector<std::uint64_t> slots;
    std::size_t count = 0;
};

// One table per hash type: the signatures, or the allowlist.
class TypedTables {
  public:
    void Add(const Digest& digest, std::uint64_t size, std::uint32_t name) {
        switch (digest.type) {
            case HashType::kMd5:
                return md5.Add(digest, size, name);
            case HashType::kSha1:
                return sha1.Add(digest, size, name);
            case HashType::kSha256:
                return sha256.Add(digest, size, name);
        }
    }
    void Reserve(HashType type, std::size_t count) {
        switch (type) {
            case HashType::kMd5:
                return md5.Reserve(count);
            case HashType::kSha1:
                return sha1.Reserve(count);
            case HashType::kSha256:
                return sha256.Reserve(count);
        }
    }
    void Seal() {
        md5.Seal();
        sha1.Seal();
        sha256.Seal();
    }
    std::size_t Count() const noexcept { return md5.Count() + sha1.Count() + sha256.Count(); }
    std::size_t MemoryBytes() const noexcept {
        return md5.MemoryBytes() + sha1.MemoryBytes() + sha256.MemoryBytes();
    }
    HashTypeMask TypesPresent() const noexcept {
        return (md5.IsEmpty() ? 0 : MaskOf(HashType::kMd5)) |
               (sha1.IsEmpty() ? 0 : MaskOf(HashType::kSha1)) |
               (sha256.IsEmpty() ? 0 : MaskOf(HashType::kSha256));
    }
    // The types with an entry of this size or of any size.
    HashTypeMask TypesFor(std::uint64_t size) const noexcept {
        HashTypeMask mask = 0;
        mask |= md5.HasSize(size) ? MaskOf(HashType::kMd5) : 0;
        mask |= sha1.HasSize(size) ? MaskOf(HashType::kSha1) : 0;
        mask |= sha256.HasSize(size) ? MaskOf(HashType::kSha256) : 0;
        return mask;
    }
    template <typename Each>
    void ForEach(std::uint64_t size, const Digest& digest, Each&& each) const {
        switch (digest.type) {
            case HashType::kMd5:
                return md5.ForEach(size, digest, each);
            case HashType::kSha1:
                return sha1.ForEach(size, digest, each);
            case HashType::kSha256:
                return sha256.ForEach(size, digest, each);
        }
    }
    // Whether an entry has this digest and this size or any size.
    bool Contains(std::uint64_t size, const Digest& digest) const {
        bool found = false;
        const auto mark = [&found](std::uint32_t) { found = true; };
        ForEach(size, digest, mark);
        ForEach(SignatureLine::kAnySize, digest, mark);
        return found;
    }

  private:
    Table<16> md5;
    Table<20> sha1;
    Table<32> sha256;
};

struct SignatureDatabase::Tables {
    TypedTables signatures;
    TypedTables allowed;
    NamePool names;

    std::string NameOf(std::uint32_t reference, const Digest& digest) const {
        const char* text = names.At(reference & ~kDerivedName);
        if ((reference & kDerivedName) == 0) {
            return text;
        }
        return std::string(text) + "." + digest.Hex().substr(0, kDerivedHexDigits);
    }
};

SignatureDatabase::SignatureDatabase() : tables(std::make_unique<Tables>()) {}
SignatureDatabase::SignatureDatabase(SignatureDatabase&&) noexcept = default;
SignatureDatabase& SignatureDatabase::operator=(SignatureDatabase&&) noexcept = default;
SignatureDatabase::~SignatureDatabase() = default;

void SignatureDatabase::Reserve(HashType type, std::size_t count) {
    tables->signatures.Reserve(type, count);
}

void SignatureDatabase::Add(const SignatureLine& signature) {
    const std::uint32_t name = signature.name.empty()
                                   ? tables->names.Intern(signature.listStem) | kDerivedName
                                   : tables->names.Intern(signature.name);
    tables->signatures.Add(signature.digest, signature.size, name);
}

void SignatureDatabase::Allow(const SignatureLine& entry) {
    tables->allowed.Add(entry.digest, entry.size, 0);
}

void SignatureDatabase::Ignore(std::string_view name) {
    ignored.emplace_back(name);
}

void SignatureDatabase::CountSkipped(std::string_view kind) {
    const auto found = std::find_if(skipped.begin(), skipped.end(),
                                    [kind](const auto& entry) { return entry.first == kind; });
    if (found != skipped.end()) {
        ++found->second;
        return;
    }
    skipped.emplace_back(kind, 1);
    std::sort(skipped.begin(), skipped.end());
}

void SignatureDatabase::Seal() {
    tables->signatures.Seal();
    tables->allowed.Seal();
    tables->names.Seal();
    std::sort(ignored.begin(), ignored.end());
    ignored.erase(std::unique(ignored.begin(), ignored.end()), ignored.end());
}

std::size_t SignatureDatabase::Count() const noexcept {
    return tables->signatures.Count();
}

std::size_t SignatureDatabase::AllowedCount() const noexcept {
    return tables->allowed.Count();
}

std::vector<std::pair<std::string, std::uint64_t>> SignatureDatabase::SkippedKinds() const {
    return skipped;
}

std::size_t SignatureDatabase::MemoryBytes() const noexcept {
    return tables->signatures.MemoryBytes() + tables->allowed.MemoryBytes() +
           tables->names.MemoryBytes();
}

HashTypeMask SignatureDatabase::NeededFor(std::uint64_t size, HashTypeMask anyway) const noexcept {
    if (size == 0) {
        return 0;
    }
    const HashTypeMask needed = anyway | tables->signatures.TypesFor(size);
    if (needed == 0) {
        return 0;
    }
    return needed | tables->allowed.TypesFor(size);
}

bool SignatureDatabase::IsAllowed(std::uint64_t size, const FileDigests& digests) const {
    for (const HashType type : {HashType::kMd5, HashType::kSha1, HashType::kSha256}) {
        if (digests.Has(type) && tables->allowed.Contains(size, digests.Of(type))) {
            return true;
        }
    }
    return false;
}

bool SignatureDatabase::IsIgnored(std::string_view name) const {
    return std::binary_search(ignored.begin(), ignored.end(), name, std::less<>());
}

HashTypeMask SignatureDatabase::TypesPresent() const noexcept {
    const HashTypeMask present = tables->signatures.TypesPresent();
    return present == 0 ? 0 : present | tables->allowed.TypesPresent();
}

void SignatureDatabase::Find(std::uint64_t size, const Digest& digest,
                             std::vector<std::string>& names) const {
    const auto add = [&](std::uint32_t reference) {
        std::string name = tables->NameOf(reference, digest);
        if (std::find(names.begin(), names.end(), name) == names.end() && !IsIgnored(name)) {
            names.push_back(std::move(name));
        }
    };
    tables->signatures.ForEach(size, digest, add);
    if (size != SignatureLine::kAnySize) {
        tables->signatures.ForEach(SignatureLine::kAnySize, digest, add);
    }
}

}  // namespace devicescan::scan
