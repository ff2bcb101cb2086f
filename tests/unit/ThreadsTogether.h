#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace testing_support {

// Runs body(0) ... body(count - 1) on count threads released together by one event, and waits
// at most timeoutMs for all of them. A thread still running then is a stuck lock: the test
// fails and the program ends at once, so the run never hangs and no thread outlives the state
// it uses.
inline void RunThreadsTogether(int count, const std::function<void(int)>& body, DWORD timeoutMs) {
    struct Start {
        HANDLE gate;
        const std::function<void(int)>* body;
        int index;
    };
    const HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(gate, nullptr);
    std::vector<Start> starts(static_cast<std::size_t>(count));
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; ++i) {
        starts[static_cast<std::size_t>(i)] = Start{gate, &body, i};
        const HANDLE thread = CreateThread(
            nullptr, 0,
            [](void* parameter) -> DWORD {
                const auto* start = static_cast<const Start*>(parameter);
                WaitForSingleObject(start->gate, INFINITE);
                (*start->body)(start->index);
                return 0;
            },
            &starts[static_cast<std::size_t>(i)], 0, nullptr);
        ASSERT_NE(thread, nullptr);
        threads.push_back(thread);
    }
    SetEvent(gate);
    const DWORD waited =
        WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, timeoutMs);
    if (waited == WAIT_TIMEOUT) {
        ADD_FAILURE() << "threads still running after " << timeoutMs << " ms: a lock is stuck";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    for (const HANDLE thread : threads) {
        CloseHandle(thread);
    }
    CloseHandle(gate);
}

}  // namespace testing_support
