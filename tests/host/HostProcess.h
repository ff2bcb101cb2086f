#pragma once

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "sdk/UniqueHandle.h"
#include "tests/unit/TestThreads.h"

// The directory of this test program (the fakes' home), and build/bin beside it.
inline std::wstring TestDirectory() {
    wchar_t self[MAX_PATH];
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\'));
}

inline std::wstring BinDirectory() {
    const std::wstring tests = TestDirectory();
    return tests.substr(0, tests.find_last_of(L'\\')) + L"\\bin";
}

// build/bin/devicescan-host.exe as a child process, its standard input on a pipe and its output
// in temporary files that the test reads while it runs. The files are opened for appending only,
// so that lines written by several of the host's threads never overwrite each other. Every wait
// is bounded; a host still running when the object goes is terminated.
class HostProcess {
  public:
    HostProcess() = default;
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;
    ~HostProcess() {
        CloseInput();
        TerminateProcess(process.Get(), 99);
        WaitForSingleObject(process.Get(), kBoundMs);
        for (const std::wstring& file : {outFile, errFile}) {
            DeleteFileW(file.c_str());
        }
    }

    // Starts the host with args; the child inherits this process's environment.
    bool Launch(const std::vector<std::wstring>& args) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr;
        HANDLE writer = nullptr;
        if (!CreatePipe(&childIn, &writer, &inherit, 0)) {
            return false;
        }
        input.Reset(writer);
        SetHandleInformation(writer, HANDLE_FLAG_INHERIT, 0);
        const qv::UniqueHandle in(childIn);
        const qv::UniqueHandle out(CreateOutput(outFile, inherit));
        const qv::UniqueHandle err(CreateOutput(errFile, inherit));
        std::wstring commandLine = L"\"" + BinDirectory() + L"\\devicescan-host.exe\"";
        for (const std::wstring& arg : args) {
            commandLine += L" \"" + arg + L"\"";
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.Get();
        startup.hStdOutput = out.Get();
        startup.hStdError = err.Get();
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &started)) {
            return false;
        }
        CloseHandle(started.hThread);
        process.Reset(started.hProcess);
        return true;
    }

    // Waits until stdout holds a line that contains part.
    bool WaitForLine(const std::string& part) const {
        return testing_support::WaitUntil(
            [&] {
                const auto lines = OutLines();
                return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
                    return line.find(part) != std::string::npos;
                });
            },
            kBoundMs);
    }

    void Send(const std::string& text) const {
        DWORD written = 0;
        WriteFile(input.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    void CloseInput() { input.Reset(); }

    // The exit code, or nothing when the host is still running after the bound.
    std::optional<DWORD> WaitForExit() const {
        DWORD code = 0;
        if (WaitForSingleObject(process.Get(), kBoundMs) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process.Get(), &code)) {
            return std::nullopt;
        }
        return code;
    }

    std::vector<std::string> OutLines() const { return Lines(outFile); }
    std::vector<std::string> ErrLines() const { return Lines(errFile); }

  private:
    static constexpr DWORD kBoundMs = 20000;

    static HANDLE CreateOutput(std::wstring& path, SECURITY_ATTRIBUTES& inherit) {
        wchar_t temp[MAX_PATH];
        wchar_t name[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        GetTempFileNameW(temp, L"dsh", 0, name);
        path = name;
        return CreateFileW(name, FILE_APPEND_DATA | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    }

    // The complete lines written so far.
    static std::vector<std::string> Lines(const std::wstring& path) {
        const qv::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
        if (!file.IsValid()) {
            return {};
        }
        std::string text(GetFileSize(file.Get(), nullptr), '\0');
        DWORD got = 0;
        ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
        std::vector<std::string> lines;
        for (std::size_t begin = 0, end; (end = text.find('\n', begin)) < got; begin = end + 1) {
            lines.push_back(text.substr(begin, end - begin));
        }
        return lines;
    }

    qv::UniqueHandle process;
    qv::UniqueHandle input;
    std::wstring outFile;
    std::wstring errFile;
};
