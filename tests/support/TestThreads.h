#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sdk/UniqueHandle.h"

namespace test_support {

// How long any orchestrated wait of a test may last before it counts as stuck.
inline constexpr DWORD kStuckMs = 10000;

// What a test thread runs.
using Work = std::function<void()>;

// Polls condition until it holds or timeoutMs have passed; false when it never held.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kStuckMs) {
    for (const ULONGLONG deadline = GetTickCount64() + timeoutMs; !condition(); Sleep(1)) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
    }
    return true;
}

// Starts a Unix program by its Z: path, in folder unless null, and waits until done holds. Wine
// gives no handle that waits for such a process (it answers WAIT_FAILED), so the program's effect
// is polled for instead. False when it could not be started or done never held.
inline bool RanUnixProgram(const wchar_t* program, std::wstring line, const wchar_t* folder,
                           const std::function<bool()>& done, DWORD timeoutMs = kStuckMs) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                        &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return WaitUntil(done, timeoutMs);
}

// Starts work on a native thread that owns its copy of work; null when no thread could be made,
// which every wait below then reports as a failure. CreateThread and bounded waits for the
// handle, as the service's own threads use: a std::future's wake-up was lost under load here,
// long after the work had ended, and std::thread threads that had run log.dll's code once left a
// program hanging at exit.
inline HANDLE StartThread(Work work) {
    return CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            (*std::unique_ptr<Work>(static_cast<Work*>(parameter)))();
            return 0;
        },
        new Work(std::move(work)), 0, nullptr);
}

// Runs work on a thread of its own and tells whether it finished within timeoutMs, so that a
// call that would hang fails the test instead of the run. A thread that does not finish is left
// behind; the test has failed by then.
inline bool FinishesWithin(DWORD timeoutMs, Work work) {
    const qv::UniqueHandle thread(StartThread(std::move(work)));
    return WaitForSingleObject(thread.Get(), timeoutMs) == WAIT_OBJECT_0;
}

// Runs body(0) ... body(count - 1) on count threads released together by one event. A thread
// still running after a minute is a stuck lock: the test fails and the program ends at once, so
// the run never hangs and no thread outlives the state it uses. A minute is well under ctest's
// limit of 120 s a case, so that the test itself reports the stuck lock instead of ctest's kill.
inline void RunThreadsTogether(int count, const std::function<void(int)>& body) {
    constexpr DWORD timeoutMs = 60000;
    const qv::UniqueHandle gate(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; ++i) {
        threads.push_back(StartThread([gate = gate.Get(), &body, i] {
            WaitForSingleObject(gate, INFINITE);
            body(i);
        }));
    }
    SetEvent(gate.Get());
    if (WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE,
                               timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "threads still running after " << timeoutMs << " ms: a lock is stuck";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    for (const HANDLE thread : threads) {
        CloseHandle(thread);
    }
}

// A thread that runs the steps it is given, in order, so that a test can drive several threads
// through one fixed interleaving. Steps arrive as APCs while the thread waits alertably. Every
// wait for a step is bounded; an actor stuck at the end of the test fails it and is terminated.
class Actor {
  public:
    Actor()
        : thread(StartThread([this] {
              while (!stopping) {
                  SleepEx(INFINITE, TRUE);
              }
          })) {}
    ~Actor() {
        Start([this] { stopping = true; });
        if (WaitForSingleObject(thread.Get(), kStuckMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "thread " << GetThreadId(thread.Get()) << " is stuck; terminating it";
            TerminateThread(thread.Get(), 1);
        }
    }
    // Queues the actor's next step and returns at once.
    void Start(Work step) {
        ++pending;
        auto* counted = new Work([this, step = std::move(step)] {
            step();
            --pending;
        });
        QueueUserAPC(&Run, thread.Get(), reinterpret_cast<ULONG_PTR>(counted));
    }
    // True once every step started has returned (waits at most timeoutMs).
    bool Finished(DWORD timeoutMs = kStuckMs) const {
        return WaitUntil([this] { return pending == 0; }, timeoutMs);
    }
    bool Do(Work step) {
        Start(std::move(step));
        return Finished();
    }

  private:
    static void CALLBACK Run(ULONG_PTR parameter) {
        const std::unique_ptr<Work> step(reinterpret_cast<Work*>(parameter));
        (*step)();
    }

    std::atomic<bool> stopping{false};
    std::atomic<int> pending{0};  // steps started and not yet returned
    qv::UniqueHandle thread;
};

}  // namespace test_support
