#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace support {

// Runs work on a thread of its own and tells whether it finished within limit, so that a call
// that would hang fails the test instead of the run. A thread that does not finish is left
// behind; the test has failed by then.
inline bool FinishesWithin(std::chrono::milliseconds limit, std::function<void()> work) {
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(work));
    std::future<void> done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    return done.wait_for(limit) == std::future_status::ready;
}

inline constexpr std::chrono::milliseconds kPatience{10000};

}  // namespace support
