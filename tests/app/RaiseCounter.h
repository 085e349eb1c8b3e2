// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Counts a single instance's requests to come to the front, which arrive on its own thread,
// and waits for them.
struct TRaiseCounter {
    void operator()() {
        const std::lock_guard lock(mutex);
        ++count;
        changed.notify_all();
    }
    bool WaitFor(int n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return count >= n; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
};
