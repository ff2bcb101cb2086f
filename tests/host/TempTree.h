#pragma once

#include <windows.h>

#include <atomic>
#include <string>

// A directory of its own under the temp folder, removed with everything in it at the end. Paths
// go through the \\?\ form, so that trees deeper than MAX_PATH work too.
class TempTree {
  public:
    TempTree() {
        static std::atomic<int> counter{0};
        wchar_t temp[MAX_PATH];
        root = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"dstree-" +
               std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        CreateDirectoryW(root.c_str(), nullptr);
    }
    ~TempTree() { Remove(Long(root)); }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::wstring& Root() const { return root; }
    std::wstring Path(const std::wstring& relative) const { return root + L"\\" + relative; }

    // Makes the directories on the way, then a file holding content unless relative ends in '\'.
    void Write(const std::wstring& relative, const std::string& content) const {
        for (std::size_t at = relative.find(L'\\'); at != std::wstring::npos;
             at = relative.find(L'\\', at + 1)) {
            CreateDirectoryW(Long(Path(relative.substr(0, at))).c_str(), nullptr);
        }
        if (relative.back() == L'\\') {
            return;
        }
        const HANDLE file = CreateFileW(Long(Path(relative)).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
    }

    static std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

  private:
    static void Remove(const std::wstring& directory) {
        WIN32_FIND_DATAW entry;
        const HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L".." && !DeleteFileW((directory + L"\\" + name).c_str())) {
                Remove(directory + L"\\" + name);  // a folder
            }
        }
        FindClose(find);
        RemoveDirectoryW(directory.c_str());
    }

    std::wstring root;
};
