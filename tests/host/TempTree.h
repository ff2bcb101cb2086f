#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// A directory of its own under the temp folder for one test, removed with everything in it when
// the object goes.
class TempTree {
  public:
    // label becomes part of the directory's name (it may hold blanks and non-ASCII characters).
    explicit TempTree(const std::wstring& label);
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    ~TempTree();

    // The directory, without a trailing backslash.
    const std::wstring& Root() const { return root; }
    std::wstring Path(const std::wstring& relative) const { return root + L"\\" + relative; }

    void AddDirectory(const std::wstring& relative) const;
    void AddFile(const std::wstring& relative, std::uint64_t bytes) const;
    void WriteText(const std::wstring& relative, const std::string& text) const;
    std::string ReadText(const std::wstring& relative) const;

  private:
    static void RemoveTree(const std::wstring& directory);

    std::wstring root;
};
