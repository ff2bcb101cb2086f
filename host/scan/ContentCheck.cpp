#include "host/scan/ContentCheck.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "host/scan/EicarCheck.h"
#include "host/scan/MultiHash.h"
#include "host/scan/archive/FileSource.h"
#include "host/scan/archive/GzipSource.h"
#include "host/scan/archive/NameText.h"
#include "host/scan/archive/ReplaySource.h"
#include "host/scan/archive/TarReader.h"
#include "host/scan/archive/ZipReader.h"
#include "sdk/Utf8.h"

namespace devicescan::scan {

namespace {

using archive::ByteSource;
using archive::ReplaySource;
using End = ByteSource::End;

constexpr std::uint64_t kUnknownSize = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kSniffSize = archive::TarReader::kBlockSize;
constexpr HashType kAllTypes[] = {HashType::kMd5, HashType::kSha1, HashType::kSha256};

std::uint64_t LimitOrAll(std::uint64_t limit) {
    return limit == 0 ? kUnknownSize : limit;
}

// Passes the bytes read through to the hashes (once begun) and counts them; the cancel flag is
// checked before each read.
class HashingTee final : public ByteSource {
  public:
    HashingTee(ByteSource& in, const CancelFlag& cancel) noexcept : in(in), cancel(cancel) {}

    // Starts hashing with types, first over the bytes already read (already).
    bool Begin(HashTypeMask types, std::span<const std::uint8_t> already) {
        hashing = types != 0;
        return hash.Begin(types) && (!hashing || hash.Add(already.data(), already.size()));
    }
    std::uint64_t BytesRead() const noexcept { return bytes; }
    bool Finish(FileDigests& digests) { return !failed && hash.Finish(digests); }

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override {
        if (cancel.IsSet()) {
            return Stop(End::kCancelled);
        }
        const std::size_t got = in.Read(buffer, size);
        if (got == 0) {
            return StopAs(in, false);
        }
        if (hashing && !hash.Add(buffer, got)) {
            failed = true;
        }
        bytes += got;
        return got;
    }

    ByteSource& in;
    const CancelFlag& cancel;
    MultiHash hash;
    bool hashing = false;
    bool failed = false;
    std::uint64_t bytes = 0;
};

// A member's data: at most cap bytes of it, each charged against the file's budget of inflated
// bytes. Ends as limited, naming the limit, when either runs out before the data does.
class MemberSource final : public ByteSource {
  public:
    MemberSource(ByteSource& in, std::uint64_t cap, std::uint64_t& budget) noexcept
        : in(in), cap(cap), budget(budget) {}
    const char* LimitHit() const noexcept { return limitHit; }

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override {
        const std::uint64_t allowed = std::min(cap - taken, budget);
        if (allowed == 0) {
            std::uint8_t probe;
            if (in.Read(&probe, 1) == 0) {
                return StopAs(in, false);
            }
            limitHit = budget == 0 ? ScanLimit::kMaxScanSize : ScanLimit::kMaxFileSize;
            return Stop(End::kLimited);
        }
        const std::size_t got =
            in.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(size, allowed)));
        if (got == 0) {
            return StopAs(in, false);
        }
        taken += got;
        budget -= got;
        return got;
    }

    ByteSource& in;
    std::uint64_t cap;
    std::uint64_t& budget;
    std::uint64_t taken = 0;
    const char* limitHit = nullptr;
};

bool EndsWith(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() > length &&
           _strnicmp(text.c_str() + text.size() - length, suffix, length) == 0;
}

}  // namespace

bool ContentCheck::CheckFile(HANDLE file, const std::wstring& shownPath, std::uint64_t size) {
    this->shownPath = shownPath;
    chain.clear();
    budget = LimitOrAll(options.maxScanSize);
    membersLeft = LimitOrAll(options.maxFiles);
    scanSizeReported = filesReported = damageFound = false;
    archive::FileSource source(file);
    const bool goOn = Check(source, size, 0, nullptr);
    counts.damaged += damageFound ? 1 : 0;
    return goOn;
}

bool ContentCheck::Check(ByteSource& content, std::uint64_t declaredSize, unsigned depth,
                         const archive::GzipSource* namedBy) {
    HashingTee tee(content, cancel);
    std::uint8_t prefix[kSniffSize];
    const std::size_t prefixSize = tee.ReadFully(prefix, sizeof prefix);
    if (namedBy != nullptr && !namedBy->FileName().empty()) {
        chain.back() = namedBy->FileName();
    }
    // Content that ended within the bytes read ahead has a size known now, header or not.
    const std::uint64_t size = declaredSize != kUnknownSize  ? declaredSize
                               : tee.Ended() != End::kNotYet ? prefixSize
                                                             : kUnknownSize;
    HashTypeMask types = size == kUnknownSize ? database.TypesPresent() : database.NeededFor(size);
    if (size != kUnknownSize && EicarCheck::SizeFits(size)) {
        // The test file is reported with its SHA-256 (and the allowlist may clear it).
        types = database.NeededFor(size, MaskOf(HashType::kSha256));
    }
    const std::span<const std::uint8_t> head(prefix, prefixSize);
    if (!tee.Begin(types, head)) {
        ++counts.errors;
        return true;
    }
    const Kind kind = !options.openArchives                                 ? Kind::kNone
                      : archive::ZipReader::StartsZip(prefix, prefixSize)   ? Kind::kZip
                      : archive::GzipSource::StartsGzip(prefix, prefixSize) ? Kind::kGzip
                      : archive::TarReader::IsHeader(head)                  ? Kind::kTar
                                                                            : Kind::kNone;
    if (kind != Kind::kNone) {
        if (options.maxRecursion != 0 && depth >= options.maxRecursion) {
            Limit(ScanLimit::kMaxRecursion);
        } else {
            ReplaySource replay(head, tee);
            if (!OpenArchive(kind, replay, depth)) {
                return false;
            }
        }
    }
    if (types != 0) {
        while (tee.Read(block.data(), block.size()) != 0) {
        }
    }
    switch (tee.Ended()) {
        case End::kCancelled:
            return false;
        case End::kReadFailed:
            counts.errors += depth == 0 ? 1 : 0;  // a member's read failure is its file's
            return true;
        case End::kLimited:
            return true;  // told by the member's check
        default:
            break;
    }
    if (types == 0) {
        return true;
    }
    FileDigests digests;
    if (!tee.Finish(digests)) {
        ++counts.errors;
        return true;
    }
    if (depth == 0) {
        counts.hashedBytes += tee.BytesRead();
    }
    Report(digests, tee.BytesRead(),
           head.first(std::min<std::size_t>(prefixSize, tee.BytesRead())));
    return true;
}

bool ContentCheck::OpenArchive(Kind kind, ByteSource& source, unsigned depth) {
    ++counts.archives;
    bool damaged = false;
    const bool goOn = kind == Kind::kZip    ? ReadZip(source, depth, damaged)
                      : kind == Kind::kGzip ? ReadGzip(source, depth, damaged)
                                            : ReadTar(source, depth, damaged);
    damageFound |= damaged;
    return goOn;
}

bool ContentCheck::ReadZip(ByteSource& source, unsigned depth, bool& damaged) {
    archive::ZipReader zip(source);
    archive::ZipEntry entry;
    while (zip.Next(entry)) {
        if (entry.directory) {
            continue;
        }
        if (!TakeMember()) {
            break;
        }
        if (entry.encrypted) {
            ++counts.encrypted;
            continue;
        }
        if (!entry.IsReadable()) {
            chain.push_back(entry.name);
            Limit(ScanLimit::kUnsupportedMethod);
            chain.pop_back();
            continue;
        }
        if (!CheckMember(zip.Data(), entry.name, entry.sizeKnown ? entry.size : kUnknownSize, depth,
                         nullptr)) {
            return false;
        }
        damaged |= zip.Data().IsDamaged();
        if (!entry.sizeKnown && !PassOver(zip.Data(), entry.name)) {
            break;
        }
    }
    damaged |= zip.Ended() == End::kDamaged;
    return zip.Ended() != End::kCancelled;
}

bool ContentCheck::ReadTar(ByteSource& source, unsigned depth, bool& damaged) {
    archive::TarReader tar(source);
    archive::TarEntry entry;
    while (tar.Next(entry)) {
        if (entry.kind != archive::TarEntry::Kind::kFile) {
            continue;
        }
        if (!TakeMember()) {
            break;
        }
        if (!CheckMember(tar.Data(), archive::ValidUtf8(entry.name), entry.size, depth, nullptr)) {
            return false;
        }
        damaged |= tar.Data().IsDamaged();
    }
    damaged |= tar.Ended() == End::kDamaged;
    return tar.Ended() != End::kCancelled;
}

bool ContentCheck::ReadGzip(ByteSource& source, unsigned depth, bool& damaged) {
    archive::GzipSource gzip(source);
    if (!TakeMember()) {
        return true;
    }
    if (!CheckMember(gzip, GzipContentName(), kUnknownSize, depth, &gzip)) {
        return false;
    }
    damaged |= gzip.IsDamaged();
    return true;
}

bool ContentCheck::CheckMember(ByteSource& data, const std::string& name,
                               std::uint64_t declaredSize, unsigned depth,
                               const archive::GzipSource* namedBy) {
    chain.push_back(name);
    const std::uint64_t maxFileSize = LimitOrAll(options.maxFileSize);
    bool goOn = true;
    if (declaredSize != kUnknownSize && declaredSize > maxFileSize) {
        Limit(ScanLimit::kMaxFileSize);
    } else {
        MemberSource member(data, declaredSize == kUnknownSize ? maxFileSize : kUnknownSize,
                            budget);
        goOn = Check(member, declaredSize, depth + 1, namedBy);
        // A limit hit by an enclosing member's source was told where it was hit.
        if (goOn && member.LimitHit() != nullptr) {
            LimitOnce(member.LimitHit());
        }
    }
    chain.pop_back();
    return goOn;
}

bool ContentCheck::PassOver(ByteSource& data, const std::string& name) {
    MemberSource rest(data, kUnknownSize, budget);
    while (rest.Read(block.data(), block.size()) != 0) {
    }
    if (rest.LimitHit() == nullptr) {
        return rest.Ended() != End::kCancelled && rest.Ended() != End::kLimited;
    }
    chain.push_back(name);
    LimitOnce(rest.LimitHit());
    chain.pop_back();
    return false;
}

void ContentCheck::LimitOnce(const char* limit) {
    const bool scanSize = limit == ScanLimit::kMaxScanSize;
    if (!scanSize || !scanSizeReported) {
        Limit(limit);
    }
    scanSizeReported |= scanSize;
}

bool ContentCheck::TakeMember() {
    if (budget == 0) {
        return false;  // told once, where the budget ran out
    }
    if (membersLeft == 0) {
        if (!filesReported) {
            Limit(ScanLimit::kMaxFiles);
        }
        filesReported = true;
        return false;
    }
    --membersLeft;
    ++counts.members;
    return true;
}

std::string ContentCheck::GzipContentName() const {
    std::string outer = chain.empty()
                            ? qv::ToUtf8(shownPath.substr(shownPath.find_last_of(L"\\/") + 1))
                            : chain.back();
    if (EndsWith(outer, ".tgz")) {
        return outer.substr(0, outer.size() - 4) + ".tar";
    }
    if (EndsWith(outer, ".gz")) {
        return outer.substr(0, outer.size() - 3);
    }
    return outer;
}

void ContentCheck::Report(const FileDigests& digests, std::uint64_t size,
                          std::span<const std::uint8_t> head) {
    if (size == 0) {
        return;  // empty content is never a threat, whatever a database lists
    }
    if (database.IsAllowed(size, digests)) {
        return;  // allowlisted content is cleared of every name, the built-in one too
    }
    std::vector<std::string> reported;
    for (const HashType type : kAllTypes) {
        if (!digests.Has(type)) {
            continue;
        }
        std::vector<std::string> names = reported;
        database.Find(size, digests.Of(type), names);
        for (std::size_t i = reported.size(); i < names.size(); ++i) {
            Detect(names[i], false, digests.Of(type), size);
        }
        reported = std::move(names);
    }
    if (head.size() == size && digests.Has(HashType::kSha256) && EicarCheck::Matches(head) &&
        std::find(reported.begin(), reported.end(), EicarCheck::kName) == reported.end() &&
        !database.IsIgnored(EicarCheck::kName)) {
        Detect(EicarCheck::kName, true, digests.Of(HashType::kSha256), size);
    }
}

void ContentCheck::Limit(const char* limit) {
    ++counts.limited;
    ScanLimit event;
    event.path = shownPath;
    event.members = chain;
    event.limit = limit;
    observer.OnLimit(event);
}

void ContentCheck::Detect(const std::string& name, bool builtin, const Digest& digest,
                          std::uint64_t size) {
    ++counts.threats;
    Detection detection;
    detection.path = shownPath;
    detection.members = chain;
    detection.name = name;
    detection.builtin = builtin;
    detection.digest = digest;
    detection.size = size;
    observer.OnDetection(detection);
}

}  // namespace devicescan::scan
