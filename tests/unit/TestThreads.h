#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace testing_support {

// How long any orchestrated wait of a test may last before it counts as stuck.
inline constexpr DWORD kStuckMs = 10000;

// Polls condition until it holds or kStuckMs have passed; false when it never held.
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

// Runs a function on a thread of its own. Every wait on it is bounded: a thread stuck in a lock
// fails the test and is terminated, instead of hanging the run.
class TestThread {
  public:
    explicit TestThread(std::function<void()> body) : body(std::move(body)) {
        handle = CreateThread(nullptr, 0, &Run, this, 0, &id);
    }
    ~TestThread() {
        if (!Join()) {
            ADD_FAILURE() << "thread " << id << " is stuck; terminating it";
            TerminateThread(handle, 1);
        }
        CloseHandle(handle);
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;

    // True once the thread has ended (waits at most timeoutMs).
    bool Join(DWORD timeoutMs = kStuckMs) { return WaitForSingleObject(handle, timeoutMs) == 0; }
    DWORD Id() const { return id; }

  private:
    static DWORD WINAPI Run(void* self) {
        static_cast<TestThread*>(self)->body();
        return 0;
    }

    std::function<void()> body;
    HANDLE handle = nullptr;
    DWORD id = 0;
};

// A thread that runs the steps it is given, in order, so that a test can drive several threads
// through one fixed interleaving. Every wait for a step is bounded.
class Actor {
  public:
    Actor() : thread([this] { Loop(); }) {}
    ~Actor() { Start(nullptr); }
    Actor(const Actor&) = delete;
    Actor& operator=(const Actor&) = delete;

    // Queues the actor's next step and returns at once. An empty step ends the actor.
    void Start(std::function<void()> step) {
        ++started;
        {
            std::lock_guard hold(mutex);
            steps.push_back(std::move(step));
        }
        SetEvent(wake.handle);
    }
    // True once every step started has returned (waits at most timeoutMs).
    bool Finished(DWORD timeoutMs = kStuckMs) const {
        return WaitUntil([this] { return completed == started; }, timeoutMs);
    }
    // Start, then Finished.
    bool Do(std::function<void()> step) {
        Start(std::move(step));
        return Finished();
    }
    DWORD Id() const { return thread.Id(); }

  private:
    struct Event {
        HANDLE handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ~Event() { CloseHandle(handle); }
    };

    void Loop() {
        for (;;) {
            std::function<void()> step;
            if (!TakeStep(step)) {
                WaitForSingleObject(wake.handle, INFINITE);
                continue;
            }
            if (!step) {
                return;
            }
            step();
            ++completed;
        }
    }
    bool TakeStep(std::function<void()>& step) {
        std::lock_guard hold(mutex);
        if (steps.empty()) {
            return false;
        }
        step = std::move(steps.front());
        steps.pop_front();
        return true;
    }

    Event wake;
    std::mutex mutex;
    std::deque<std::function<void()>> steps;
    std::atomic<int> started{0};
    std::atomic<int> completed{0};
    TestThread thread;  // last: starts once everything above exists, ends first
};

}  // namespace testing_support
