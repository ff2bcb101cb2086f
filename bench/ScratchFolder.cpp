#include "bench/ScratchFolder.h"

#include <windows.h>

#include <cstdio>

#include "sdk/ProgramDirectory.h"

namespace devicescan::bench {

ScratchFolder::ScratchFolder(const wchar_t* name, std::initializer_list<const wchar_t*> files)
    : files(files.begin(), files.end()) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + name;
    CreateDirectoryW(folder.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    for (const std::wstring& file : files) {
        DeleteFileW(Path(file.c_str()).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

void ScratchFolder::CopyShipped(const wchar_t* file) const {
    CopyFileW((qv::ProgramDirectory() + file).c_str(), Path(file).c_str(), FALSE);
}

void ScratchFolder::Write(const wchar_t* file, const char* text) const {
    if (FILE* stream = _wfopen(Path(file).c_str(), L"wb")) {
        std::fputs(text, stream);
        std::fclose(stream);
    }
}

}  // namespace devicescan::bench
