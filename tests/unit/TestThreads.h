#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace testing_support {

// How long any orchestrated wait of a test may last before it counts as stuck.
inline constexpr DWORD kStuckMs = 10000;

// Polls condition until it holds or timeoutMs have passed; false when it never held.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kStuckMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

// Runs body(0) ... body(count - 1) on count threads released together by one event. A thread
// still running after timeoutMs is a stuck lock: the test fails and the program ends at once, so
// the run never hangs and no thread outlives the state it uses.
inline void RunThreadsTogether(int count, const std::function<void(int)>& body, DWORD timeoutMs) {
    struct Start {
        HANDLE gate;
        const std::function<void(int)>* body;
        int index;
    };
    const HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<Start> starts(static_cast<std::size_t>(count), Start{gate, &body, 0});
    std::vector<HANDLE> threads;
    for (Start& start : starts) {
        start.index = static_cast<int>(threads.size());
        threads.push_back(CreateThread(
            nullptr, 0,
            [](void* parameter) -> DWORD {
                const auto* start = static_cast<const Start*>(parameter);
                WaitForSingleObject(start->gate, INFINITE);
                (*start->body)(start->index);
                return 0;
            },
            &start, 0, nullptr));
    }
    SetEvent(gate);
    if (WaitForMultipleObjects(static_cast<DWORD>(count), threads.data(), TRUE, timeoutMs) ==
        WAIT_TIMEOUT) {
        ADD_FAILURE() << "threads still running after " << timeoutMs << " ms: a lock is stuck";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    for (const HANDLE thread : threads) {
        CloseHandle(thread);
    }
    CloseHandle(gate);
}

// A thread that runs the steps it is given, one after another, so that a test can drive several
// threads through one fixed interleaving. Every wait for a step is bounded; an actor stuck at the
// end of the test fails it and is terminated.
class Actor {
  public:
    Actor() { thread = CreateThread(nullptr, 0, &Loop, this, 0, &id); }
    ~Actor() {
        Start(nullptr);
        if (WaitForSingleObject(thread, kStuckMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "thread " << id << " is stuck; terminating it";
            TerminateThread(thread, 1);
        }
        CloseHandle(thread);
        CloseHandle(wake);
    }
    Actor(const Actor&) = delete;
    Actor& operator=(const Actor&) = delete;

    // Hands the actor its next step and returns at once; an empty step ends the actor.
    void Start(std::function<void()> step) {
        std::lock_guard hold(mutex);
        next = std::move(step);
        ++started;
        SetEvent(wake);
    }
    // True once every step started has returned (waits at most timeoutMs).
    bool Finished(DWORD timeoutMs = kStuckMs) const {
        return WaitUntil([this] { return completed == started; }, timeoutMs);
    }
    bool Do(std::function<void()> step) {
        Start(std::move(step));
        return Finished();
    }
    DWORD Id() const { return id; }

  private:
    static DWORD WINAPI Loop(void* parameter) {
        auto* self = static_cast<Actor*>(parameter);
        for (;;) {
            WaitForSingleObject(self->wake, INFINITE);
            std::function<void()> step;
            {
                std::lock_guard hold(self->mutex);
                step.swap(self->next);
            }
            if (!step) {
                return 0;
            }
            step();
            ++self->completed;
        }
    }

    HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::mutex mutex;
    std::function<void()> next;
    std::atomic<int> started{0};
    std::atomic<int> completed{0};
    HANDLE thread = nullptr;
    DWORD id = 0;
};

}  // namespace testing_support
