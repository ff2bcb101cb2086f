#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace qv::tests {

// What a run of devicescan-volume.exe gave: its exit code and everything it wrote.
struct ToolResult {
    DWORD exitCode = 0;
    std::string output;  // stdout and stderr, interleaved
};

// The exit code reported for a tool that did not finish in time (it is ended).
inline constexpr DWORD kToolTimedOut = 0xFFFFFFFF;

// Runs the shipped tool (bin/devicescan-volume.exe beside this program's tests/ folder) with the
// given command line and waits at most timeoutMs for it.
ToolResult RunVolumeTool(const std::wstring& arguments, DWORD timeoutMs = 10000);

// Runs "plug <letter> <typeName> <unixDirectory> <options>".
ToolResult PlugVolume(wchar_t letter, const std::wstring& typeName,
                      const std::string& unixDirectory, const std::wstring& options = L"");

// Plugs unixDirectory as a drive of the named type on the first free letter from Y: downwards
// and returns the letter; nothing (with the tool's output in a test failure) when no letter
// could be plugged. Letters are taken under the tool's lock, so test programs running at once
// get different ones.
std::optional<wchar_t> PlugOnFreeLetter(const std::wstring& typeName,
                                        const std::string& unixDirectory,
                                        const std::wstring& options = L"");

// The Unix path Wine maps a Windows path to (UTF-8); empty when Wine does not know it.
std::string UnixPathOf(const std::wstring& windowsPath);

// A fresh directory under the temporary folder holding one small file named after it (so that
// the file tells this directory from any other plugged on the same letter), removed with its
// content at the end of the object's life.
class TemporaryDirectory {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::wstring& WindowsPath() const { return windowsPath; }
    const std::string& UnixPath() const { return unixPath; }
    const std::wstring& FileName() const { return fileName; }

  private:
    std::wstring windowsPath;
    std::wstring fileName;
    std::string unixPath;
};

}  // namespace qv::tests
