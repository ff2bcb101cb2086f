#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace devicescan::bench {

// A folder of its own under the temp directory for copies of the shipped binaries and what they
// write, so that a benchmark neither reads nor fills anything beside the shipped files. The
// files it was told of are deleted with it; a library loaded from it must be freed before.
class ScratchFolder {
  public:
    // files: every file that may stand in the folder by the end.
    ScratchFolder(const wchar_t* name, std::initializer_list<const wchar_t*> files);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::wstring Path(const wchar_t* file) const { return folder + L"\\" + file; }
    // Copies the shipped binary of that name from beside this program.
    void CopyShipped(const wchar_t* file) const;
    // Makes text the whole content of the file.
    void Write(const wchar_t* file, const char* text) const;

  private:
    std::wstring folder;
    std::vector<std::wstring> files;
};

}  // namespace devicescan::bench
