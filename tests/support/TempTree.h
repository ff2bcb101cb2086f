#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

namespace test_support {

// A directory of its own under the temp folder, removed with everything in it at the end. Paths
// go through the \\?\ form, so that trees deeper than MAX_PATH work too.
class TempTree {
  public:
    TempTree() { CreateDirectoryW(root.c_str(), nullptr); }
    ~TempTree() { Remove(Long(root)); }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    std::wstring Path(const std::wstring& relative) const { return root + L"\\" + relative; }

    // Makes the directories on the way, then a file holding content unless relative ends in '\'.
    void Write(const std::wstring& relative, const std::string& content) const {
        const std::filesystem::path path = Long(Path(relative));
        std::filesystem::create_directories(path.parent_path());
        if (relative.back() != L'\\') {
            std::ofstream(path, std::ios::binary) << content;
        }
    }

    static std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

  private:
    static std::wstring NewRoot() {
        static std::atomic<int> counter{0};
        return std::filesystem::temp_directory_path().wstring() + L"dstree-" +
               std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    }

    // std::filesystem::remove_all gives up on paths beyond MAX_PATH here, \\?\ form or not.
    static void Remove(const std::wstring& directory) {
        WIN32_FIND_DATAW entry;
        const HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L".." && !DeleteFileW((directory + L"\\" + name).c_str()) &&
                (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                Remove(directory + L"\\" + name);  // a folder; a link is never followed
            }
        }
        FindClose(find);
        RemoveDirectoryW(directory.c_str());
    }

    const std::wstring root = NewRoot();
};

}  // namespace test_support
