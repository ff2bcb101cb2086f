#include "host/VolumeWalker.h"

#include "scan/FullPathName.h"

#include <windows.h>

#include <vector>

namespace devicescan::host {

namespace {

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

std::wstring WithSeparator(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') {
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

HANDLE FindFirst(const std::wstring& directory, WIN32_FIND_DATAW& entry) {
    return FindFirstFileExW((directory + L"*").c_str(), FindExInfoBasic, &entry,
                            FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
}

}  // namespace

std::wstring VolumeWalker::LongPathOf(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) {
        return path;
    }
    const std::optional<std::wstring> absolute = scan::FullPathName(path);
    if (!absolute) {
        return path;
    }
    const std::wstring& full = *absolute;
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        return L"\\\\?\\" + full;
    }
    return full;
}

VolumeWalker::Result VolumeWalker::Walk(const std::wstring& root, const scan::CancelFlag& cancel,
                                        const ProgressCallback& progress) const {
    Result result;
    Counts& counts = result.counts;
    std::vector<std::wstring> pending{WithSeparator(LongPathOf(root))};
    bool atRoot = true;
    while (!pending.empty()) {
        const std::wstring directory = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW entry;
        FindHandle find(FindFirst(directory, entry));
        if (!find.IsValid()) {
            const DWORD error = GetLastError();
            // An empty volume root has no "." entry, so listing it finds nothing at all.
            if (error == ERROR_FILE_NOT_FOUND && atRoot) {
                return result;
            }
            if (atRoot) {
                result.outcome = Outcome::kFailed;
                result.error = error;
                return result;
            }
            ++counts.errors;
            continue;
        }
        atRoot = false;
        do {
            if (cancel.IsSet()) {
                result.outcome = Outcome::kCancelled;
                return result;
            }
            if (IsDotEntry(entry.cFileName)) {
                continue;
            }
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                ++counts.directories;
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                    pending.push_back(directory + entry.cFileName + L"\\");
                }
                continue;
            }
            ++counts.files;
            counts.bytes += (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
            if (progressEvery != 0 && counts.files % progressEvery == 0 && progress) {
                progress(counts);
            }
            if (pauseMs != 0 && cancel.Pause(pauseMs)) {
                result.outcome = Outcome::kCancelled;
                return result;
            }
        } while (FindNextFileW(find.Get(), &entry));
        if (GetLastError() != ERROR_NO_MORE_FILES) {
            ++counts.errors;
        }
    }
    return result;
}

}  // namespace devicescan::host
