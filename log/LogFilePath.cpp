#include "log/LogFilePath.h"

#include "sdk/PathCapacity.h"

namespace devicescan::logdll {
namespace {

bool IsAbsolute(std::wstring_view path) {
    return (path.size() >= 2 && path[1] == L':') ||
           (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

bool NamesDirectory(const std::wstring& path) {
    if (path.back() == L'\\' || path.back() == L'/') {
        return true;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The text with its %VARIABLES% expanded; the text unchanged when that fails.
std::wstring ExpandEnvironment(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0 || needed > qv::kPathCapacity) {
        return text;
    }
    std::wstring expanded(needed, L'\0');
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (length == 0 || length > needed) {
        return text;
    }
    expanded.resize(length - 1);
    return expanded;
}

}  // namespace

std::wstring ModulePath(HMODULE module) {
    std::wstring path(qv::kPathCapacity, L'\0');
    const DWORD length = GetModuleFileNameW(module, path.data(), qv::kPathCapacity);
    path.resize(length < qv::kPathCapacity ? length : 0);
    return path;
}

std::wstring DirectoryOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring LogFileNameFor(const std::wstring& programPath) {
    std::wstring name = FileNameOf(programPath);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.resize(dot);
    }
    return (name.empty() ? std::wstring(L"log") : name) + L".log";
}

std::wstring ResolveLogPath(const std::wstring& setting, const std::wstring& libraryDirectory,
                            const std::wstring& defaultFileName) {
    if (setting.empty()) {
        return libraryDirectory + L"\\" + defaultFileName;
    }
    std::wstring path = ExpandEnvironment(setting);
    if (!IsAbsolute(path)) {
        path = libraryDirectory + L"\\" + path;
    }
    if (NamesDirectory(path)) {
        if (path.back() != L'\\' && path.back() != L'/') {
            path += L'\\';
        }
        path += defaultFileName;
    }
    return path;
}

}  // namespace devicescan::logdll
