#pragma once

#include <deque>
#include <string>

#include "host/output/LineWriter.h"
#include "sdk/CriticalSection.h"
#include "sdk/ThreadChecker.h"
#include "sdk/UniqueHandle.h"

namespace devicescan::host {

// The lines waiting to be written to stdout and stderr. Callbacks of the module (its window
// thread) and the scanner's worker only append a finished line here and signal; the main thread
// writes them, so no writer of the queue ever waits on a pipe.
//
// Threads: Push from any thread, under queueLock (held only to append or to take the whole
// queue). Take and Drain on one thread only, the main thread (drainThread checks it).
class OutputQueue {
  public:
    enum class Stream { kOut, kError };

    OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // False when the wake-up event could not be created.
    bool IsValid() const noexcept { return ready.IsValid(); }

    void Push(Stream stream, std::string line);
    // Signalled (auto-reset) after a Push.
    HANDLE ReadyEvent() const noexcept { return ready.Get(); }
    struct Entry {
        Stream stream;
        std::string line;
    };

    // Removes and returns every queued line, in the order they were pushed.
    std::deque<Entry> Take();
    // Writes and removes every queued line.
    void Drain(const LineWriter& out, const LineWriter& error);

  private:
    qv::CriticalSection queueLock;
    std::deque<Entry> entries;
    qv::UniqueHandle ready;
    qv::ThreadChecker drainThread;
};

}  // namespace devicescan::host
