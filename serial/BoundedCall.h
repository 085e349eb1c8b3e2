// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// For system calls whose duration only the kernel decides, such as opening a USB adapter
// that has wedged (its driver waits seconds for each control transfer): the call runs on a
// short-lived thread of its own, and the caller waits for it only a bounded time.

enum class TBoundedStatus {
    done,     // the call returned in time; its result is handed back
    timedOut, // the caller goes on; the call's result goes to `abandon` once it returns
    busy,     // an earlier call with the same key has still not returned; nothing was started
};

namespace bounded_call_detail {
// A process-wide set of the keys whose calls are under way.
bool Begin(const std::string& key);
void End(const std::string& key);
bool Running(const std::string& key);
// Runs `body` on a new thread that nobody joins; raises std::system_error when none can be
// started. One file per platform.
void StartDetached(std::function<void()> body);
} // namespace bounded_call_detail

// True while a call with `key` that was given up on has not returned yet.
inline bool BoundedCallRunning(const std::string& key) {
    return bounded_call_detail::Running(key);
}

// Runs `call` on a thread of its own and waits at most `limit` for it. Only one call per `key`
// runs at a time. When the wait times out, `abandon` receives the result on the call's thread
// once the call returns, and must release whatever it holds (close a descriptor). Raises
// std::system_error when no thread can be started.
template <class Result>
TBoundedStatus CallWithin(const std::string& key, std::chrono::milliseconds limit, std::function<Result()> call,
                          std::function<void(Result&&)> abandon, Result& result) {
    struct Job {
        std::mutex mutex;
        std::condition_variable finished;
        std::optional<Result> value;
        bool givenUp = false;
    };
    if (!bounded_call_detail::Begin(key)) {
        return TBoundedStatus::busy;
    }
    auto job = std::make_shared<Job>();
    try {
        bounded_call_detail::StartDetached([job, key, call = std::move(call), abandon = std::move(abandon)] {
            Result value = call();
            std::unique_lock lock(job->mutex);
            if (job->givenUp) {
                lock.unlock();
                abandon(std::move(value));
                bounded_call_detail::End(key);
                return;
            }
            job->value = std::move(value);
            job->finished.notify_all();
        });
    } catch (...) {
        bounded_call_detail::End(key);
        throw;
    }
    std::unique_lock lock(job->mutex);
    if (!job->finished.wait_for(lock, limit, [&] { return job->value.has_value(); })) {
        job->givenUp = true;
        return TBoundedStatus::timedOut;
    }
    result = std::move(*job->value);
    bounded_call_detail::End(key);
    return TBoundedStatus::done;
}
