#include "host/scan/BackgroundHasher.h"

namespace devicescan::scan {

BackgroundHasher::BackgroundHasher() noexcept = default;

BackgroundHasher::~BackgroundHasher() {
    if (thread == nullptr) {
        return;
    }
    WaitAll();
    AcquireSRWLockExclusive(&lock);
    stopping = true;
    ReleaseSRWLockExclusive(&lock);
    WakeConditionVariable(&queued);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

bool BackgroundHasher::StartWorker() {
    if (thread == nullptr && !workerFailed) {
        thread = CreateThread(nullptr, 0, &BackgroundHasher::Run, this, 0, nullptr);
        workerFailed = thread == nullptr;
    }
    return thread != nullptr;
}

BackgroundHasher::Ticket BackgroundHasher::Add(HashObject& hash, const std::uint8_t* data,
                                               std::size_t size) {
    if (size < kSmallBlock || !StartWorker()) {
        WaitAll();  // the blocks before this one first
        failed = !hash.Add(data, size) || failed;
        return issued;
    }
    AcquireSRWLockExclusive(&lock);
    while (issued - finished == kQueued) {
        SleepConditionVariableSRW(&done, &lock, INFINITE, 0);
    }
    jobs[issued % kQueued] = Job{&hash, data, size};
    ++issued;
    ReleaseSRWLockExclusive(&lock);
    WakeConditionVariable(&queued);
    return issued;
}

void BackgroundHasher::Wait(Ticket ticket) {
    if (thread == nullptr) {
        return;
    }
    AcquireSRWLockExclusive(&lock);
    while (finished < ticket) {
        SleepConditionVariableSRW(&done, &lock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&lock);
}

DWORD WINAPI BackgroundHasher::Run(void* self) {
    static_cast<BackgroundHasher*>(self)->Work();
    return 0;
}

void BackgroundHasher::Work() {
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        while (finished == issued && !stopping) {
            SleepConditionVariableSRW(&queued, &lock, INFINITE, 0);
        }
        if (finished == issued) {
            break;  // stopping, and nothing left
        }
        const Job job = jobs[finished % kQueued];
        ReleaseSRWLockExclusive(&lock);
        const bool hashed = job.hash->Add(job.data, job.size);
        AcquireSRWLockExclusive(&lock);
        failed = !hashed || failed;
        ++finished;
        WakeAllConditionVariable(&done);
    }
    ReleaseSRWLockExclusive(&lock);
}

}  // namespace devicescan::scan
