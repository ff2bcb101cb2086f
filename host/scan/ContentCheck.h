#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/scan/CancelFlag.h"
#include "host/scan/FileDigests.h"
#include "host/scan/FolderScanner.h"
#include "host/scan/ScanCounts.h"
#include "host/scan/ScanObserver.h"
#include "host/scan/SignatureDatabase.h"
#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan {

namespace archive {
class GzipSource;
}

// Checks the content of one file on disk in one sequential pass: hashed with the types its
// size needs and, when its first bytes are a zip, gzip or tar archive, opened as one, its
// members checked exactly as files (size filter first, then one streaming pass that inflates
// and hashes) and opened in turn when they are archives. The bytes an archive reader takes are
// the same bytes the enclosing file's or member's hashes see; what the reader leaves is read
// on through the hashes only when they need it. Nothing is held whole in memory or written out:
// each level of nesting holds a reader's buffer and at most one inflate state.
//
// The scan's limits (FolderScanner::Options) bound the work per file on disk, and every stop
// they cause is told to the observer as a ScanLimit. Damage in an archive ends its reading
// where it is found; what was read is still checked, and the archive is counted as damaged.
//
// Threads: the scanning thread's; one check at a time.
class ContentCheck {
  public:
    ContentCheck(const SignatureDatabase& database, const FolderScanner::Options& options,
                 const CancelFlag& cancel, ScanObserver& observer, ScanCounts& counts,
                 std::vector<std::uint8_t>& block)
        : database(database),
          options(options),
          cancel(cancel),
          observer(observer),
          counts(counts),
          block(block) {}
    ContentCheck(const ContentCheck&) = delete;
    ContentCheck& operator=(const ContentCheck&) = delete;

    // Checks the open file read from its start; size: from its folder entry. False when
    // cancelled.
    bool CheckFile(HANDLE file, const std::wstring& shownPath, std::uint64_t size);

  private:
    enum class Kind { kNone, kZip, kGzip, kTar };

    // Checks one stream, the file on disk at depth 0 or a member below it; declaredSize is
    // kUnknownSize when no header gave it. False when cancelled.
    bool Check(archive::ByteSource& content, std::uint64_t declaredSize, unsigned depth,
               const archive::GzipSource* namedBy);
    bool OpenArchive(Kind kind, archive::ByteSource& source, unsigned depth);
    bool ReadZip(archive::ByteSource& source, unsigned depth, bool& damaged);
    bool ReadTar(archive::ByteSource& source, unsigned depth, bool& damaged);
    bool ReadGzip(archive::ByteSource& source, unsigned depth, bool& damaged);
    // Checks a member whose name is pushed on the chain for the time of its check.
    bool CheckMember(archive::ByteSource& data, const std::string& name, std::uint64_t declaredSize,
                     unsigned depth, const archive::GzipSource* namedBy);
    // Inflates the rest of a member whose end only its data tells (a zip member with a data
    // descriptor), charged to the file's budget; false when the budget ran out (the archive
    // is read no further) or on a cancel.
    bool PassOver(archive::ByteSource& data, const std::string& name);
    // Counts a member about to be checked; false when the file's limits allow no more.
    bool TakeMember();
    // The name given to a gzip stream's content when its header names none.
    std::string GzipContentName() const;
    // Reports what matches content of size bytes with these digests, starting with head.
    void Report(const FileDigests& digests, std::uint64_t size, std::span<const std::uint8_t> head);
    void Limit(const char* limit);
    // The same, but max-scansize only once per file: after it, nothing more is inflated.
    void LimitOnce(const char* limit);
    void Detect(const std::string& name, bool builtin, const Digest& digest, std::uint64_t size);

    const SignatureDatabase& database;
    const FolderScanner::Options& options;
    const CancelFlag& cancel;
    ScanObserver& observer;
    ScanCounts& counts;
    std::vector<std::uint8_t>& block;  // the innermost stream's reads

    // The file being checked.
    std::wstring shownPath;
    std::vector<std::string> chain;  // the names of the members being checked, outermost first
    std::uint64_t budget = 0;        // bytes that members may still inflate to
    std::uint64_t membersLeft = 0;
    bool scanSizeReported = false;
    bool filesReported = false;
    bool damageFound = false;
};

}  // namespace devicescan::scan
