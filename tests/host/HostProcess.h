#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// devicescan-host.exe as a child process with its standard handles on pipes, for the host tests.
// Every wait is bounded; a host still running when the object goes is terminated.
class HostProcess {
  public:
    enum class Input { kPipe, kNul };

    HostProcess() = default;
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;
    ~HostProcess();

    // build/bin/devicescan-host.exe, and the directory of this test program (the fakes' home).
    static std::wstring HostPath();
    static std::wstring TestDirectory();

    // Starts the host with args; the child inherits this process's environment and console.
    // With ownGroup, it leads a process group of its own, the target of a console Ctrl-Break.
    bool Launch(const std::vector<std::wstring>& args, Input input = Input::kPipe,
                bool ownGroup = false);
    DWORD ProcessId() const { return process.dwProcessId; }

    // Waits until stdout holds a line that contains every one of parts.
    bool WaitForLine(const std::vector<std::string>& parts, DWORD timeoutMs = 20000);
    void Send(const std::string& text);
    void CloseInput();
    // The exit code, or nothing when the host is still running after timeoutMs.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = 20000);

    std::vector<std::string> OutLines() const;
    std::string Err() const;

  private:
    struct Capture {
        std::mutex lock;
        std::condition_variable changed;
        std::string text;
    };
    static void Pump(HANDLE pipe, Capture& capture);
    void JoinReaders();

    PROCESS_INFORMATION process{};
    HANDLE input = nullptr;
    mutable Capture out;
    mutable Capture err;
    std::thread outReader;
    std::thread errReader;
};
