#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace devicescan::bench {

// spdlog's basic file sink writing the record LogBench writes through log.dll, in the same line
// layout: local time with milliseconds, the thread id, the severity, the module, the function
// and the text, formatted from the same wide format and arguments and written as UTF-8.
// Thread-safe (the sink's _mt kind), like log.dll.
class SpdlogPeer {
  public:
    // flushEachRecord: the file is flushed after every record, as log.dll's "flush = line".
    SpdlogPeer(const std::wstring& path, bool flushEachRecord);
    ~SpdlogPeer();
    SpdlogPeer(const SpdlogPeer&) = delete;
    SpdlogPeer& operator=(const SpdlogPeer&) = delete;

    void WriteRecord(std::size_t number) const;

  private:
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace devicescan::bench
