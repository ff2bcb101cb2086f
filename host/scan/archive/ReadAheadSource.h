#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan::archive {

// The bytes of another source, read on a thread of its own a few blocks ahead of the reader:
// while the reader parses one block, the thread reads and inflates the next. It ends as the
// source below ended, with the same reason and error code, once the reader has had every byte.
//
// The first megabyte is read on the reader's thread: a small source is over before a thread
// would have started.
//
// Threads: one reader thread calls Read; the worker, started after the first megabyte, is the only
// thread that reads the source below until this source has ended. After the end (or after
// destruction, which stops and joins the worker) the source below is the reader's again. When
// the worker cannot be started, the reader reads the source below itself.
class ReadAheadSource final : public ByteSource {
  public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;
    static constexpr std::size_t kBlocks = 3;

    explicit ReadAheadSource(ByteSource& below) noexcept;
    ~ReadAheadSource() override;

  private:
    struct Block {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t size = 0;
    };

    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override;
    bool StartWorker();
    static DWORD WINAPI Run(void* self);
    void Work();

    ByteSource& below;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE filled = CONDITION_VARIABLE_INIT;  // the worker published a block
    CONDITION_VARIABLE freed = CONDITION_VARIABLE_INIT;   // the reader gave a block back
    std::array<Block, kBlocks> blocks;
    // Blocks published by the worker and taken back by the reader, counted from the start; the
    // block of count n is blocks[n % kBlocks]. Under lock.
    std::uint64_t published = 0;
    std::uint64_t released = 0;
    bool belowEnded = false;  // the worker's last block is published (under lock)
    bool stopping = false;    // the destructor asks the worker to stop (under lock)
    // The reader's place in the oldest published block (the reader's alone).
    std::size_t offset = 0;
    std::uint64_t readInline = 0;  // bytes the reader read from below itself
    HANDLE thread = nullptr;
    bool noWorker = false;  // no worker could be started: the reader reads below itself
};

}  // namespace devicescan::scan::archive
