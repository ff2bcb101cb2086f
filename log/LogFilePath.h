#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Where the library's files are: the paths of modules, and the log file a setting names.
namespace devicescan::logdll {

// The full path of module (null: the program); empty when unknown or too long.
std::wstring ModulePath(HMODULE module);
// The part before the last \ or /; "." when there is none.
std::wstring DirectoryOf(const std::wstring& path);
// The part after the last \ or /; the whole path when there is none.
std::wstring FileNameOf(const std::wstring& path);
// The default log file name for a program: its file name with the extension replaced by ".log"
// (host.exe: host.log); "log.log" when it has no name.
std::wstring LogFileNameFor(const std::wstring& programPath);

// The log file that the path setting names. Empty: defaultFileName in libraryDirectory.
// Otherwise %VARIABLES% are expanded, a relative path is taken from libraryDirectory, and a path
// that ends in a separator or names an existing directory gets defaultFileName appended.
std::wstring ResolveLogPath(const std::wstring& setting, const std::wstring& libraryDirectory,
                            const std::wstring& defaultFileName);

}  // namespace devicescan::logdll
