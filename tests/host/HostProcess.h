#pragma once

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

// build/bin/devicescan-host.exe as a child process with its standard handles on pipes, for the
// host tests. Every wait is bounded; a host still running when the object goes is terminated.
class HostProcess {
  public:
    HostProcess() = default;
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;
    ~HostProcess() {
        CloseInput();
        if (process.hProcess != nullptr) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        JoinReaders();
    }

    // The directory of this test program (the fakes' home) and build/bin, beside it.
    static std::wstring TestDirectory() {
        wchar_t self[MAX_PATH];
        const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
        return path.substr(0, path.find_last_of(L'\\'));
    }
    static std::wstring BinDirectory() {
        const std::wstring tests = TestDirectory();
        return tests.substr(0, tests.find_last_of(L'\\')) + L"\\bin";
    }

    // Starts the host with args; the child inherits this process's environment.
    bool Launch(const std::vector<std::wstring>& args) {
        HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
        HANDLE outRead = nullptr, errRead = nullptr;
        if (!MakePipe(childIn, input, true) || !MakePipe(outRead, childOut, false) ||
            !MakePipe(errRead, childErr, false)) {
            return false;
        }
        std::wstring commandLine = L"\"" + BinDirectory() + L"\\devicescan-host.exe\"";
        for (const std::wstring& arg : args) {
            commandLine += L" \"" + arg + L"\"";
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = childErr;
        const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &startup, &process);
        CloseHandle(childIn);
        CloseHandle(childOut);
        CloseHandle(childErr);
        outReader = StartReader(outRead, out);
        errReader = StartReader(errRead, err);
        return started != FALSE;
    }

    // Waits until stdout holds a line that contains every one of parts.
    bool WaitForLine(const std::vector<std::string>& parts) {
        const auto found = [&] {
            for (const std::string& line : SplitLines(Text(out))) {
                bool all = true;
                for (const std::string& part : parts) {
                    all = all && line.find(part) != std::string::npos;
                }
                if (all) {
                    return true;
                }
            }
            return false;
        };
        for (const ULONGLONG deadline = GetTickCount64() + kBoundMs; !found(); Sleep(10)) {
            if (GetTickCount64() >= deadline) {
                return false;
            }
        }
        return true;
    }

    void Send(const std::string& text) {
        DWORD written = 0;
        WriteFile(input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    void CloseInput() {
        if (input != nullptr) {
            CloseHandle(input);
            input = nullptr;
        }
    }

    // The exit code, or nothing when the host is still running after the bound.
    std::optional<DWORD> WaitForExit() {
        if (process.hProcess == nullptr ||
            WaitForSingleObject(process.hProcess, kBoundMs) != WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        JoinReaders();  // the pipes end with the process: take the last of the output
        return code;
    }

    std::vector<std::string> OutLines() const { return SplitLines(Text(out)); }
    std::vector<std::string> ErrLines() const { return SplitLines(Text(err)); }

  private:
    static constexpr DWORD kBoundMs = 20000;

    struct Capture {
        std::mutex lock;
        std::string text;
        HANDLE pipe = nullptr;
    };

    // Only the child's end of the pipe is inherited.
    static bool MakePipe(HANDLE& read, HANDLE& write, bool childReads) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        return CreatePipe(&read, &write, &inherit, 0) &&
               SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
    }

    // A native reader thread per pipe, as the product's threads are: it ends with the child.
    static HANDLE StartReader(HANDLE pipe, Capture& capture) {
        capture.pipe = pipe;
        return CreateThread(nullptr, 0, &Pump, &capture, 0, nullptr);
    }

    static DWORD WINAPI Pump(void* parameter) {
        Capture& capture = *static_cast<Capture*>(parameter);
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(capture.pipe, buffer, sizeof buffer, &got, nullptr) && got != 0) {
            std::lock_guard lock(capture.lock);
            capture.text.append(buffer, got);
        }
        CloseHandle(capture.pipe);
        return 0;
    }

    static std::string Text(Capture& capture) {
        std::lock_guard lock(capture.lock);
        return capture.text;
    }

    void JoinReaders() {
        for (HANDLE* reader : {&outReader, &errReader}) {
            if (*reader != nullptr) {
                WaitForSingleObject(*reader, kBoundMs);
                CloseHandle(*reader);
                *reader = nullptr;
            }
        }
    }

    PROCESS_INFORMATION process{};
    HANDLE input = nullptr;
    mutable Capture out;
    mutable Capture err;
    HANDLE outReader = nullptr;
    HANDLE errReader = nullptr;
};
