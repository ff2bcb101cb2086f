#pragma once

#include <windows.h>

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sdk/ProgramDirectory.h"
#include "sdk/UniqueHandle.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestThreads.h"

// build/bin/devicescan-host.exe as a child process, its standard input on a pipe and its output
// in files of a temporary folder that the test reads while it runs. The files are opened for
// appending only, so that lines written by several of the host's threads never overwrite each
// other. Every wait is bounded; a host still running when the object goes is terminated.
class HostProcess {
  public:
    ~HostProcess() {
        TerminateProcess(process.Get(), 99);
        WaitForSingleObject(process.Get(), kBoundMs);
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
        const qv::UniqueHandle out(CreateOutput(L"out", inherit));
        const qv::UniqueHandle err(CreateOutput(L"err", inherit));
        std::wstring commandLine =
            L"\"" + qv::ProgramDirectory() + L"..\\bin\\devicescan-host.exe\"";
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
        using namespace ::testing;
        return test_support::WaitUntil([&] { return Value(OutLines(), Contains(HasSubstr(part))); },
                                       kBoundMs);
    }

    void CloseInput() { input.Reset(); }
    void WriteInput(const std::string& text) {
        DWORD written = 0;
        WriteFile(input.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    // The exit code, STILL_ACTIVE when the host is still running after the bound.
    DWORD WaitForExit() const {
        DWORD code = STILL_ACTIVE;
        WaitForSingleObject(process.Get(), kBoundMs);
        GetExitCodeProcess(process.Get(), &code);
        return code;
    }

    std::vector<std::string> OutLines() const { return Lines(L"out"); }
    std::vector<std::string> ErrLines() const { return Lines(L"err"); }

  private:
    static constexpr DWORD kBoundMs = 20000;

    HANDLE CreateOutput(const wchar_t* name, SECURITY_ATTRIBUTES& inherit) const {
        return CreateFileW(files.Path(name).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
    }

    // The complete lines written so far.
    std::vector<std::string> Lines(const wchar_t* name) const {
        std::ifstream file(std::filesystem::path(files.Path(name)), std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line) && !file.eof();) {
            lines.push_back(line);
        }
        return lines;
    }

    const test_support::TempTree files;  // removed once the host has ended
    qv::UniqueHandle process;
    qv::UniqueHandle input;
};
