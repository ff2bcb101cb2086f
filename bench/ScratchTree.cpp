#include "bench/ScratchTree.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>

namespace devicescan::bench {

namespace {

std::wstring NewRoot() {
    static std::atomic<int> counter{0};
    return std::filesystem::temp_directory_path().wstring() + L"dsbench-" +
           std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

void RemoveTree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L".." && !DeleteFileW((directory + L"\\" + name).c_str())) {
            RemoveTree(directory + L"\\" + name);  // a folder
        }
    }
    FindClose(find);
    RemoveDirectoryW(directory.c_str());
}

}  // namespace

ScratchTree::ScratchTree() : root(NewRoot()) {
    CreateDirectoryW(root.c_str(), nullptr);
}

ScratchTree::~ScratchTree() {
    RemoveTree(root);
}

void ScratchTree::Write(const std::wstring& relative, const std::string& content) const {
    const std::filesystem::path path = Path(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace devicescan::bench
