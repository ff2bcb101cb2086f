#include "host/scan/FolderScanner.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "host/scan/ContentCheck.h"
#include "host/scan/EicarCheck.h"
#include "host/scan/LongPath.h"
#include "host/scan/PathFilter.h"
#include "sdk/UniqueHandle.h"

namespace devicescan::scan {

namespace {

// Shorter files cannot be archives (the smallest, a gzip stream, takes 18 bytes).
constexpr std::uint64_t kSmallestArchive = 18;

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

std::wstring WithSeparator(std::wstring path) {
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') {
        path += L'\\';
    }
    return path;
}

// Closes a FindFirstFileExW handle.
class FindHandle {
  public:
    explicit FindHandle(HANDLE handle) noexcept : handle(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (IsValid()) {
            FindClose(handle);
        }
    }
    bool IsValid() const noexcept { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const noexcept { return handle; }

  private:
    HANDLE handle;
};

// The path a PathFilter sees for a file-system path: without the \\?\ (or \\?\UNC\) prefix
// and, for a folder, without its trailing separator (a volume root keeps its own: "E:\").
std::wstring FilterPathOf(const std::wstring& longPath) {
    std::wstring path = longPath;
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        path.replace(0, 8, L"\\\\");
    } else if (path.rfind(L"\\\\?\\", 0) == 0) {
        path.erase(0, 4);
    }
    if (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    return path;
}

HANDLE FindFirst(const std::wstring& directory, WIN32_FIND_DATAW& entry) {
    return FindFirstFileExW((directory + L"*").c_str(), FindExInfoBasic, &entry,
                            FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
}

// A folder still to list: its path for the file system and as the output shows it.
struct PendingFolder {
    std::wstring longPath;
    std::wstring shownPath;
};

// The scan of one tree: the walk, the files it reads and what it reports.
class TreeScan {
  public:
    TreeScan(const SignatureDatabase& database, const FolderScanner::Options& options,
             std::vector<std::uint8_t>& block, const CancelFlag& cancel, ScanObserver& observer)
        : options(options),
          database(database),
          cancel(cancel),
          observer(observer),
          content(database, options, cancel, observer, result.counts, block) {}

    FolderScanner::Result Run(const std::wstring& root) {
        const std::wstring longRoot = LongPathOf(root);
        const DWORD attributes = GetFileAttributesW(longRoot.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (Excluded(false, longRoot)) {
                return result;
            }
            return RunFile(longRoot, root);
        }
        if (attributes != INVALID_FILE_ATTRIBUTES && Excluded(true, longRoot)) {
            return result;
        }
        std::vector<PendingFolder> pending{{WithSeparator(longRoot), WithSeparator(root)}};
        bool atRoot = true;
        while (!pending.empty()) {
            const PendingFolder folder = std::move(pending.back());
            pending.pop_back();
            if (!ListFolder(folder, atRoot, pending)) {
                return result;
            }
            atRoot = false;
        }
        return result;
    }

  private:
    FolderScanner::Result RunFile(const std::wstring& longPath, const std::wstring& shownPath) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(longPath.c_str(), GetFileExInfoStandard, &data)) {
            result.outcome = FolderScanner::Outcome::kFailed;
            result.error = GetLastError();
            return result;
        }
        ScanFile(longPath, shownPath, std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow);
        return result;
    }

    // Lists one folder, scanning its files and queueing its subfolders. False when the scan
    // ends here (cancelled, or the root cannot be listed).
    bool ListFolder(const PendingFolder& folder, bool atRoot, std::vector<PendingFolder>& pending) {
        WIN32_FIND_DATAW entry;
        FindHandle find(FindFirst(folder.longPath, entry));
        if (!find.IsValid()) {
            return FolderNotListed(GetLastError(), atRoot);
        }
        do {
            if (cancel.IsSet()) {
                result.outcome = FolderScanner::Outcome::kCancelled;
                return false;
            }
            if (IsDotEntry(entry.cFileName)) {
                continue;
            }
            const bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            if (Excluded(isFolder, folder.longPath + entry.cFileName)) {
                continue;
            }
            if (isFolder) {
                ++result.counts.directories;
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                    pending.push_back({folder.longPath + entry.cFileName + L"\\",
                                       folder.shownPath + entry.cFileName + L"\\"});
                }
                continue;
            }
            const std::uint64_t size =
                (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
            if (!ScanFile(folder.longPath + entry.cFileName, folder.shownPath + entry.cFileName,
                          size)) {
                return false;
            }
        } while (FindNextFileW(find.Get(), &entry));
        if (GetLastError() != ERROR_NO_MORE_FILES) {
            ++result.counts.errors;
        }
        return true;
    }

    // Whether the filter leaves out this file or folder; counted when it does.
    bool Excluded(bool isFolder, const std::wstring& longPath) {
        if (!options.filter || options.filter->IsEmpty()) {
            return false;
        }
        const std::wstring path = FilterPathOf(longPath);
        if (!(isFolder ? options.filter->SkipsFolder(path) : options.filter->SkipsFile(path))) {
            return false;
        }
        ++result.counts.excluded;
        return true;
    }

    bool FolderNotListed(DWORD error, bool atRoot) {
        if (!atRoot) {
            ++result.counts.errors;
            return true;
        }
        // An empty volume root has no "." entry, so listing it finds nothing at all.
        if (error != ERROR_FILE_NOT_FOUND) {
            result.outcome = FolderScanner::Outcome::kFailed;
            result.error = error;
        }
        return false;
    }

    // Counts a file and checks it when a signature could match its size or it could be an
    // archive. False when cancelled.
    bool ScanFile(const std::wstring& longPath, const std::wstring& shownPath, std::uint64_t size) {
        ++result.counts.files;
        result.counts.bytes += size;
        HashTypeMask types = database.NeededFor(size);
        if (EicarCheck::SizeFits(size)) {
            types |= MaskOf(HashType::kSha256);
        }
        const bool read = types != 0 || (options.openArchives && size >= kSmallestArchive);
        if (read && options.maxFileSize != 0 && size > options.maxFileSize) {
            ++result.counts.limited;
            observer.OnLimit({shownPath, {}, ScanLimit::kMaxFileSize});
        } else if (read && !CheckContent(longPath, shownPath, size)) {
            result.outcome = FolderScanner::Outcome::kCancelled;
            return false;
        }
        if (options.progressEvery != 0 && result.counts.files % options.progressEvery == 0) {
            observer.OnProgress(result.counts);
        }
        if (options.pauseMs != 0 && cancel.Pause(options.pauseMs)) {
            result.outcome = FolderScanner::Outcome::kCancelled;
            return false;
        }
        return true;
    }

    // Reads one file, and the archives in it, and reports what matches. False when cancelled.
    bool CheckContent(const std::wstring& longPath, const std::wstring& shownPath,
                      std::uint64_t size) {
        qv::UniqueHandle file(CreateFileW(
            longPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file.IsValid()) {
            ++result.counts.errors;
            return true;
        }
        const std::uint64_t threatsBefore = result.counts.threats;
        const bool finished = content.CheckFile(file.Get(), shownPath, size);
        if (result.counts.threats == threatsBefore) {
            return finished;
        }
        // A file that holds a detection, as its handle has it, for whoever acts on the file once
        // it is closed (asked only then: the call costs a trip to the server under Wine).
        BY_HANDLE_FILE_INFORMATION info{};
        const bool stamped = GetFileInformationByHandle(file.Get(), &info);
        file.Reset();
        observer.OnFileClosed(
            shownPath, stamped ? std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow : size,
            stamped ? std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                          info.ftLastWriteTime.dwLowDateTime
                    : 0);
        return finished;
    }

    const FolderScanner::Options& options;
    const SignatureDatabase& database;
    const CancelFlag& cancel;
    ScanObserver& observer;
    FolderScanner::Result result;
    ContentCheck content;
};
}  // namespace

FolderScanner::FolderScanner(const SignatureDatabase& database, Options options)
    : database(database), options(options), block(std::size_t{1} << 20) {}

FolderScanner::Result FolderScanner::Scan(const std::wstring& root, const CancelFlag& cancel,
                                          ScanObserver& observer) {
    return TreeScan(database, options, block, cancel, observer).Run(root);
}

}  // namespace devicescan::scan
