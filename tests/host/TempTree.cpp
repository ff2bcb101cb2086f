#include "TempTree.h"

#include <atomic>
#include <string>

namespace {

std::atomic<int> counter{0};

}  // namespace

TempTree::TempTree(const std::wstring& label) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root = std::wstring(temp) + L"dshost-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter) + L"-" + label;
    CreateDirectoryW(root.c_str(), nullptr);
}

// The \\?\ form, so that trees deeper than MAX_PATH go too.
TempTree::~TempTree() {
    RemoveTree(L"\\\\?\\" + root);
}

void TempTree::AddDirectory(const std::wstring& relative) const {
    CreateDirectoryW(Path(relative).c_str(), nullptr);
}

void TempTree::AddFile(const std::wstring& relative, std::uint64_t bytes) const {
    WriteText(relative, std::string(static_cast<std::size_t>(bytes), 'x'));
}

void TempTree::WriteText(const std::wstring& relative, const std::string& text) const {
    const HANDLE file = CreateFileW(Path(relative).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string TempTree::ReadText(const std::wstring& relative) const {
    const HANDLE file =
        CreateFileW(Path(relative).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string text(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    text.resize(got);
    return text;
}

void TempTree::RemoveTree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = directory + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(directory.c_str());
}
