#pragma once

#include <windows.h>

#include <string>

#include "sdk/UniqueHandle.h"

namespace devicescan::host {

// Reads standard input on a thread of its own and turns it into stop requests: a line "quit"
// stops the host with reason quit, the end of the input (a closed pipe, /dev/null, an empty
// file) with reason end-of-input. Other lines are ignored with a note on stderr. Without a usable
// standard input (no handle) nothing is read and nothing stops the host.
//
// Threads: Start and the destructor on the main thread. The reader thread touches only its own
// stack, the standard handles and the process-wide StopSignal, so it may be left blocked in a
// read at exit: the destructor tries to cancel the read and does not wait long for it.
class StdinWatcher {
  public:
    StdinWatcher() = default;
    StdinWatcher(const StdinWatcher&) = delete;
    StdinWatcher& operator=(const StdinWatcher&) = delete;
    ~StdinWatcher();

    // False (with the last-error code set) when the reader thread cannot be started.
    bool Start();

    // What one input line asks for; exposed for the tests.
    enum class Command { kNone, kQuit, kUnknown };
    static Command Parse(const std::string& line);

  private:
    static DWORD WINAPI ReaderRoutine(void* parameter);

    qv::UniqueHandle reader;
};

}  // namespace devicescan::host
