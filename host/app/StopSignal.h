#pragma once

#include <windows.h>

#include <atomic>

namespace devicescan::host {

// The request to stop the host, and why. The first request wins; later ones change nothing.
// There is one per process and it is never destroyed, because the console control handler and
// the stdin reader (threads that may outlive main's objects) signal it.
//
// Threads: Request from any thread (the console control handler runs on a thread the system
// creates); Event, Why and MarkFinished from the main thread. When the console window is closed,
// the system ends the process as soon as the handler returns, so the handler then waits (a few
// seconds at most) for MarkFinished.
class StopSignal {
  public:
    enum class Reason { kNone, kQuit, kEndOfInput, kCtrlC, kCtrlBreak, kClose, kTimeout };

    static StopSignal& Process();

    // Routes Ctrl-C, Ctrl-Break and closing the console window to Request.
    bool InstallConsoleHandler() noexcept;

    void Request(Reason why) noexcept;
    // The host has shut everything down; a console being closed may end the process now.
    void MarkFinished() noexcept { SetEvent(finished); }
    // Manual-reset; signalled once a stop was requested. Null when it could not be created.
    HANDLE Event() const noexcept { return event; }
    Reason Why() const noexcept { return reason.load(); }

    // "quit", "end-of-input", "ctrl-c", "ctrl-break", "close", "timeout".
    static const wchar_t* Name(Reason why) noexcept;

  private:
    StopSignal() noexcept;
    static BOOL WINAPI ConsoleHandler(DWORD controlType);

    HANDLE event;
    HANDLE finished;
    std::atomic<Reason> reason{Reason::kNone};
};

}  // namespace devicescan::host
