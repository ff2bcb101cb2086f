#include "VolumeTool.h"

#include <gtest/gtest.h>

#include "VolumeCommand.h"

namespace qv::tests {

namespace {

constexpr DWORD kPollMs = 20;

std::wstring ToolPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path.resize(path.find_last_of(L'\\'));
    path.resize(path.find_last_of(L'\\'));
    return path + L"\\bin\\devicescan-volume.exe";
}

std::wstring Widen(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

void Drain(HANDLE pipe, std::string& output) {
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD read = 0;
        if (!ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) || read == 0) {
            return;
        }
        output.append(buffer, read);
    }
}

}  // namespace

ToolResult RunVolumeTool(const std::wstring& arguments, DWORD timeoutMs) {
    ToolResult result;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        result.exitCode = kToolTimedOut;
        result.output = "cannot create a pipe";
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring commandLine = L"\"" + ToolPath() + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        result.exitCode = kToolTimedOut;
        result.output = "cannot start the tool: error " + std::to_string(GetLastError());
        CloseHandle(readEnd);
        return result;
    }
    CloseHandle(process.hThread);

    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_TIMEOUT) {
        Drain(readEnd, result.output);
        if (GetTickCount64() >= deadline) {
            TerminateProcess(process.hProcess, kToolTimedOut);
            WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    Drain(readEnd, result.output);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    return result;
}

ToolResult PlugVolume(wchar_t letter, const std::wstring& typeName,
                      const std::string& unixDirectory, const std::wstring& options) {
    return RunVolumeTool(std::wstring(L"plug ") + letter + L' ' + typeName + L" \"" +
                         Widen(unixDirectory) + L"\" " + options);
}

std::optional<wchar_t> PlugOnFreeLetter(const std::wstring& typeName,
                                        const std::string& unixDirectory,
                                        const std::wstring& options) {
    for (wchar_t letter = L'Y'; letter >= L'M'; --letter) {
        const ToolResult plugged = PlugVolume(letter, typeName, unixDirectory, options);
        if (plugged.exitCode == tools::kExitDone) {
            return letter;
        }
        if (plugged.exitCode != tools::kExitLetterState) {
            ADD_FAILURE() << "plug " << static_cast<char>(letter) << ": exit code "
                          << plugged.exitCode << "\n"
                          << plugged.output;
            return std::nullopt;
        }
    }
    ADD_FAILURE() << "no free drive letter between M: and Y:";
    return std::nullopt;
}

std::string UnixPathOf(const std::wstring& windowsPath) {
    // Wine's own export; the tests run only under Wine.
    using ToUnixFn = char* (*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnixFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) {
        return {};
    }
    char* unixPath = toUnix(windowsPath.c_str());
    if (unixPath == nullptr) {
        return {};
    }
    std::string path(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return path;
}

TemporaryDirectory::TemporaryDirectory() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring name = L"devicescan-volume-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(GetTickCount64());
    windowsPath = temp + name;
    fileName = name + L".txt";
    if (!CreateDirectoryW(windowsPath.c_str(), nullptr)) {
        return;
    }
    const std::wstring file = windowsPath + L"\\" + fileName;
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(handle, "sample\n", 7, &written, nullptr);
        CloseHandle(handle);
    }
    unixPath = UnixPathOf(windowsPath);
}

TemporaryDirectory::~TemporaryDirectory() {
    DeleteFileW((windowsPath + L"\\" + fileName).c_str());
    RemoveDirectoryW(windowsPath.c_str());
}

}  // namespace qv::tests
