#include "host/scan/archive/ReadAheadSource.h"

#include <algorithm>
#include <cstring>

namespace devicescan::scan::archive {

ReadAheadSource::ReadAheadSource(ByteSource& below) noexcept : below(below) {}

ReadAheadSource::~ReadAheadSource() {
    if (thread == nullptr) {
        return;
    }
    AcquireSRWLockExclusive(&lock);
    stopping = true;
    ReleaseSRWLockExclusive(&lock);
    WakeConditionVariable(&freed);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

bool ReadAheadSource::StartWorker() {
    thread = CreateThread(nullptr, 0, &ReadAheadSource::Run, this, 0, nullptr);
    noWorker = thread == nullptr;
    return !noWorker;
}

std::size_t ReadAheadSource::ReadSome(std::uint8_t* buffer, std::size_t size) {
    if (noWorker || (thread == nullptr && (readInline < kBlockSize || !StartWorker()))) {
        const std::size_t got = below.Read(buffer, size);
        readInline += got;
        return got != 0 ? got : StopAs(below, false);
    }
    AcquireSRWLockExclusive(&lock);
    while (published == released && !belowEnded) {
        SleepConditionVariableSRW(&filled, &lock, INFINITE, 0);
    }
    const bool anyLeft = published != released;
    const std::uint64_t oldest = released;
    ReleaseSRWLockExclusive(&lock);
    if (!anyLeft) {
        return StopAs(below, false);  // the worker is done with below: it is ours to ask
    }
    // A published block is the reader's until it is given back.
    const Block& block = blocks[oldest % kBlocks];
    const std::size_t take = std::min(size, block.size - offset);
    std::memcpy(buffer, block.bytes.get() + offset, take);
    offset += take;
    if (offset == block.size) {
        offset = 0;
        AcquireSRWLockExclusive(&lock);
        ++released;
        ReleaseSRWLockExclusive(&lock);
        WakeConditionVariable(&freed);
    }
    // Only the last block can be empty: ask again, to end as below did.
    return take != 0 ? take : ReadSome(buffer, size);
}

DWORD WINAPI ReadAheadSource::Run(void* self) {
    static_cast<ReadAheadSource*>(self)->Work();
    return 0;
}

void ReadAheadSource::Work() {
    for (std::uint64_t next = 0;; ++next) {
        AcquireSRWLockExclusive(&lock);
        while (next - released == kBlocks && !stopping) {
            SleepConditionVariableSRW(&freed, &lock, INFINITE, 0);
        }
        const bool stop = stopping;
        ReleaseSRWLockExclusive(&lock);
        if (stop) {
            return;
        }
        Block& block = blocks[next % kBlocks];
        if (!block.bytes) {
            block.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
        }
        block.size = below.ReadFully(block.bytes.get(), kBlockSize);
        const bool last = block.size < kBlockSize;
        AcquireSRWLockExclusive(&lock);
        ++published;
        belowEnded = last;
        ReleaseSRWLockExclusive(&lock);
        WakeConditionVariable(&filled);
        if (last) {
            return;
        }
    }
}

}  // namespace devicescan::scan::archive
