#include "host/scan/ContainerLoader.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "host/scan/BackgroundHasher.h"
#include "host/scan/ContainerIndex.h"
#include "host/scan/DatabaseFileParser.h"
#include "host/scan/DatabaseKind.h"
#include "host/scan/HashObject.h"
#include "host/scan/LineSplitter.h"
#include "host/scan/LongPath.h"
#include "host/scan/archive/ByteSource.h"
#include "host/scan/archive/FileSource.h"
#include "host/scan/archive/GzipSource.h"
#include "host/scan/archive/ReadAheadSource.h"
#include "host/scan/archive/ReplaySource.h"
#include "host/scan/archive/TarReader.h"
#include "sdk/SystemMessage.h"
#include "sdk/UniqueHandle.h"
#include "sdk/Utf8.h"

namespace devicescan::scan {

namespace {

using archive::ByteSource;
using archive::ReplaySource;

// The unit of every read: inflated, hashed and parsed a megabyte at a time.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// Blocks handed to the hasher and not yet hashed, at most: a few, so that a reader briefly
// ahead of the hasher (or behind it) need not wait for it.
constexpr std::size_t kInFlight = 4;

// A buffer of a megabyte, allocated when first used and left uninitialised: loading many small
// containers must neither clear nor take megabytes it does not fill.
class Block {
  public:
    std::uint8_t* data() {
        if (!bytes) {
            bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
        }
        return bytes.get();
    }
    static constexpr std::size_t size() noexcept { return kBlockSize; }

  private:
    std::unique_ptr<std::uint8_t[]> bytes;
};

qv::UniqueHandle OpenContainer(const std::wstring& path) {
    return qv::UniqueHandle(CreateFileW(LongPathOf(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

DatabaseError Unreadable(const std::wstring& path, DWORD code) {
    return DatabaseError{path, 0, L"cannot read: " + qv::DescribeError(code)};
}

bool EndsWithNoCase(std::string_view text, std::string_view end) {
    if (text.size() < end.size()) {
        return false;
    }
    text.remove_prefix(text.size() - end.size());
    for (std::size_t i = 0; i < end.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != end[i]) {
            return false;
        }
    }
    return true;
}

// The bytes of another source passed through unchanged, each added to a hash on its way (the
// digest a .cvd's header gives covers everything after the header, compressed). It runs on the
// read-ahead thread, beside the inflating, while the loading thread parses.
class DigestingSource final : public ByteSource {
  public:
    DigestingSource(ByteSource& below, HashObject* hash) noexcept : below(below), hash(hash) {}

    // Whether a hash call failed.
    bool Failed() const noexcept { return failed; }

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override {
        const std::size_t got = below.Read(buffer, size);
        if (got == 0) {
            return StopAs(below, false);
        }
        if (hash != nullptr && !hash->Add(buffer, got)) {
            failed = true;
        }
        return got;
    }

    ByteSource& below;
    HashObject* hash;
    bool failed = false;
};

bool SameDigest(const Digest& a, const Digest& b) {
    return a.type == b.type && std::memcmp(a.bytes.data(), b.bytes.data(), a.Size()) == 0;
}

// What the loader does with a file inside a container.
enum class Role { kIndex, kLicence, kLoaded, kSkipped };

// One file inside, as it passed: its size and SHA-256.
struct Passed {
    std::uint64_t size = 0;
    Digest sha256;
};

// One load of one container: the checks and the files in the order the archive gives them.
class ContainerLoad {
  public:
    ContainerLoad(SignatureDatabase& database, const std::wstring& path)
        : database(database), path(path) {}

    std::optional<DatabaseError> Run(ByteSource& bytes) {
        // The header and the bytes after it that tell a gzip'd archive from a plain one.
        std::uint8_t start[ContainerHeader::kSize + 4];
        const std::size_t read = bytes.ReadFully(start, sizeof start);
        if (bytes.Ended() == ByteSource::End::kReadFailed) {
            return Unreadable(path, bytes.Error());
        }
        ContainerHeader header;
        std::string problem;
        if (!ContainerHeader::Parse(std::string_view(reinterpret_cast<const char*>(start), read),
                                    header, problem)) {
            return Fault(qv::FromUtf8(problem));
        }
        const bool checksDigest = EndsWithNoCase(qv::ToUtf8(path), ".cvd");
        if (checksDigest && !header.hasMd5) {
            return Fault(L"the header of a .cvd gives no MD5");
        }
        const std::span<const std::uint8_t> lookahead(start + ContainerHeader::kSize,
                                                      read - ContainerHeader::kSize);
        const bool gzipped = archive::GzipSource::StartsGzip(lookahead.data(), lookahead.size());
        HashObject md5;
        if (checksDigest && !md5.Begin(HashType::kMd5)) {
            return Fault(L"no MD5 provider");
        }
        ReplaySource rest(lookahead, bytes);
        DigestingSource digesting(rest, checksDigest ? &md5 : nullptr);
        std::optional<archive::GzipSource> gzip;
        ByteSource& content =
            gzipped ? gzip.emplace(digesting) : static_cast<ByteSource&>(digesting);
        // Reading, the digest and inflating on one thread, the archive and its lines on this
        // one. Declared last, it stops its thread before what that thread reads goes.
        archive::ReadAheadSource tarInput(content);
        if (auto error = ReadArchive(tarInput)) {
            return error;
        }
        // What follows the archive's end is still the container's: the rest of the gzip
        // stream (its check value) and of the file (the digest covers it).
        if (!Drain(tarInput)) {
            return Ended(tarInput, "", gzip ? L"the compressed stream" : L"the file");
        }
        if (!Drain(digesting)) {
            return Ended(digesting, "", L"the file");
        }
        if (checksDigest) {
            Digest digest;
            if (digesting.Failed() || !md5.Finish(digest)) {
                return Fault(L"no MD5 provider");
            }
            if (!SameDigest(digest, header.md5)) {
                return Fault(L"the MD5 of the content is " + qv::FromUtf8(digest.Hex()) +
                             L", the header says " + qv::FromUtf8(header.md5.Hex()));
            }
        }
        if (auto error = CheckAgainstIndex()) {
            return error;
        }
        database.CountDatabase();
        return std::nullopt;
    }

  private:
    DatabaseError Fault(std::wstring problem, const std::string& member = {},
                        std::uint64_t line = 0) const {
        return DatabaseError{path, line, std::move(problem), qv::FromUtf8(member)};
    }

    // Why source ended before its end.
    DatabaseError Ended(const ByteSource& source, const std::string& member,
                        const wchar_t* what) const {
        return Ended(source.Ended(), source.Error(), member, what);
    }
    DatabaseError Ended(ByteSource::End why, std::uint32_t error, const std::string& member,
                        const wchar_t* what) const {
        if (why == ByteSource::End::kReadFailed && error != ERROR_INVALID_DATA) {
            return Fault(L"cannot read: " + qv::DescribeError(error), member);
        }
        return Fault(std::wstring(what) + L" is cut short or damaged", member);
    }

    // Reads source to its end; false unless that end is a clean one.
    bool Drain(ByteSource& source) {
        while (source.Read(blocks[0].data(), blocks[0].size()) != 0) {
        }
        return source.Ended() == ByteSource::End::kFinished;
    }

    std::optional<DatabaseError> ReadArchive(ByteSource& input) {
        archive::TarReader tar(input);
        archive::TarEntry entry;
        while (tar.Next(entry)) {
            if (auto error = ReadEntry(entry, tar.Data())) {
                return error;
            }
        }
        if (tar.Ended() != ByteSource::End::kFinished) {
            return Ended(tar.Ended(), tar.Error(), "", L"the archive");
        }
        return std::nullopt;
    }

    Role RoleOf(const std::string& name) const {
        if (EndsWithNoCase(name, ".info")) {
            return Role::kIndex;
        }
        if (name == "COPYING") {
            return Role::kLicence;
        }
        switch (DatabaseKindOf(std::string_view(name))) {
            case DatabaseKind::kMd5Signatures:
            case DatabaseKind::kShaSignatures:
            case DatabaseKind::kMd5Allowlist:
            case DatabaseKind::kShaAllowlist:
            case DatabaseKind::kIgnoredNames:
                return Role::kLoaded;
            default:
                return Role::kSkipped;
        }
    }

    // Streams one file: its SHA-256 and, as its role asks, its lines.
    std::optional<DatabaseError> ReadEntry(const archive::TarEntry& entry, ByteSource& data) {
        const std::string& name = entry.name;
        if (entry.kind != archive::TarEntry::Kind::kFile || name.empty() ||
            name.find_first_of("/\\") != std::string::npos) {
            return Fault(L"an entry is not a plain file of the container's own", name);
        }
        if (passed.count(name) != 0) {
            return Fault(L"the file is in the container twice", name);
        }
        const Role role = RoleOf(name);
        if (role == Role::kIndex && indexName) {
            return Fault(L"a second .info file", name);
        }
        std::optional<DatabaseFileParser> parser;
        if (role == Role::kLoaded) {
            parser.emplace(database, DatabaseKindOf(std::string_view(name)),
                           name.substr(0, name.rfind('.')));
        }
        // Queued blocks of the last file are all hashed: it has been finished.
        if (!sha256.Begin(HashType::kSha256)) {
            return Fault(L"no SHA-256 provider", name);
        }
        LineSplitter indexLines(DatabaseFileParser::kMaxLine);
        std::uint64_t indexLine = 0;
        std::string problem;
        const auto takeIndexLine = [&](std::string_view line) {
            ++indexLine;
            return index.AddLine(line, problem);
        };
        Passed file;
        // Blocks in turn: the hasher reads some while another fills and is parsed.
        BackgroundHasher::Ticket tickets[kInFlight] = {};
        for (std::size_t current = 0;; current = (current + 1) % kInFlight) {
            hasher.Wait(tickets[current]);
            Block& block = blocks[current];
            const std::size_t got = data.ReadFully(block.data(), block.size());
            if (got == 0) {
                break;
            }
            file.size += got;
            tickets[current] = hasher.Add(sha256, block.data(), got);
            const std::string_view text(reinterpret_cast<const char*>(block.data()), got);
            if (parser && !parser->Feed(text)) {
                return Fault(qv::FromUtf8(parser->Problem()), name, parser->Line());
            }
            if (role == Role::kIndex &&
                indexLines.Feed(text, takeIndexLine) != LineSplitter::Result::kMore) {
                return Fault(qv::FromUtf8(problem.empty() ? "a line is too long" : problem), name,
                             problem.empty() ? indexLine + 1 : indexLine);
            }
            if (got < block.size()) {
                break;  // a short read is the end
            }
        }
        if (data.Ended() != ByteSource::End::kFinished) {
            return Ended(data, name, L"the file");
        }
        if (parser && !parser->Finish()) {
            return Fault(qv::FromUtf8(parser->Problem()), name, parser->Line());
        }
        if (role == Role::kIndex) {
            if (indexLines.Finish(takeIndexLine) != LineSplitter::Result::kMore) {
                return Fault(qv::FromUtf8(problem), name, indexLine);
            }
            if (indexLine == 0) {
                return Fault(L"the list of files is empty", name);
            }
            indexName = name;
        }
        hasher.WaitAll();
        if (hasher.Failed() || !sha256.Finish(file.sha256)) {
            return Fault(L"no SHA-256 provider", name);
        }
        if (role == Role::kSkipped) {
            const std::string extension = LowerExtensionOf(name);
            database.CountSkipped(extension.empty() ? name : extension);
        }
        passed.emplace(name, file);
        return std::nullopt;
    }

    // Every file against the list: each listed, of its size and digest, and none missing.
    std::optional<DatabaseError> CheckAgainstIndex() const {
        if (!indexName) {
            return Fault(L"the container has no .info file listing its files");
        }
        for (const auto& [name, file] : passed) {
            if (name == *indexName) {
                continue;
            }
            const ContainerIndex::Entry* listed = index.Find(name);
            if (listed == nullptr) {
                if (name == "COPYING") {
                    continue;
                }
                return Fault(L"the file is not in the container's list", name);
            }
            if (listed->size != file.size) {
                return Fault(L"the file has " + std::to_wstring(file.size) +
                                 L" bytes, the list says " + std::to_wstring(listed->size),
                             name);
            }
            if (!SameDigest(listed->sha256, file.sha256)) {
                return Fault(L"the file's SHA-256 is not the one the list gives", name);
            }
        }
        for (const auto& [name, listed] : index.Entries()) {
            if (passed.count(name) == 0) {
                return Fault(L"a file the list names is missing", name);
            }
        }
        return std::nullopt;
    }

    SignatureDatabase& database;
    const std::wstring& path;
    ContainerIndex index;
    std::optional<std::string> indexName;
    std::map<std::string, Passed> passed;
    // The blocks of the files inside and their digest, then the thread that hashes them: it is
    // destroyed first, and waits for what it was given before they go.
    Block blocks[kInFlight];
    HashObject sha256;
    BackgroundHasher hasher;
};

}  // namespace

std::optional<DatabaseError> ContainerLoader::ReadHeader(const std::wstring& path,
                                                         ContainerHeader& header) {
    const qv::UniqueHandle file = OpenContainer(path);
    if (!file.IsValid()) {
        return Unreadable(path, GetLastError());
    }
    archive::FileSource source(file.Get());
    char bytes[ContainerHeader::kSize];
    const std::size_t read = source.ReadFully(reinterpret_cast<std::uint8_t*>(bytes), sizeof bytes);
    if (source.Ended() == archive::ByteSource::End::kReadFailed) {
        return Unreadable(path, source.Error());
    }
    std::string problem;
    if (!ContainerHeader::Parse(std::string_view(bytes, read), header, problem)) {
        return DatabaseError{path, 0, qv::FromUtf8(problem)};
    }
    return std::nullopt;
}

std::optional<DatabaseError> ContainerLoader::Load(const std::wstring& path) {
    const qv::UniqueHandle file = OpenContainer(path);
    if (!file.IsValid()) {
        return Unreadable(path, GetLastError());
    }
    archive::FileSource bytes(file.Get());
    return Load(path, bytes);
}

std::optional<DatabaseError> ContainerLoader::Load(const std::wstring& name,
                                                   archive::ByteSource& bytes) {
    return ContainerLoad(database, name).Run(bytes);
}

}  // namespace devicescan::scan
