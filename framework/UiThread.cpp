// SPDX-License-Identifier: MIT
#include "UiThread.h"

#include "ApplicationCore.h"
#include "Exceptions.h"
#include "UiThreadHost.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct PendingCall {
    PendingCall(std::function<void()> f, bool posted) : call(std::move(f)), posted(posted) {}
    std::function<void()> call;
    const bool posted; // nobody waits for it
    std::exception_ptr error;
    bool done = false;
};

struct UiQueue {
    std::mutex mutex;
    // Signalled when a call is queued or finished and by WakeUiThread: the callers waiting for
    // their result and a user-interface thread inside WaitOnUiThreadUntil all wait on it.
    std::condition_variable changed;
    std::deque<std::shared_ptr<PendingCall>> calls;
    TUiThreadHost* host = nullptr;
    std::atomic<std::thread::id> uiThread{};
};

// Before an application object exists (or after it), the program's main thread is the one
// where the toolkit's windows may be used: the thread that ran the static initialisation.
const std::thread::id mainThread = std::this_thread::get_id();

UiQueue& Queue() {
    static UiQueue queue;
    return queue;
}

} // namespace

void AttachUiThreadHost(TUiThreadHost& host) {
    UiQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    q.host = &host;
    q.uiThread.store(std::this_thread::get_id());
}

void DetachUiThreadHost() {
    UiQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    q.host = nullptr;
    q.uiThread.store(std::thread::id());
    for (auto& pending : q.calls) {
        pending->error = std::make_exception_ptr(Exception("The application ended before the call could run"));
        pending->done = true;
    }
    q.calls.clear();
    q.changed.notify_all();
}

bool IsUiThread() {
    const std::thread::id ui = Queue().uiThread.load();
    if (ui != std::thread::id())
        return ui == std::this_thread::get_id();
    return std::this_thread::get_id() == mainThread;
}

void RunOnUiThread(std::function<void()> call) {
    if (IsUiThread()) {
        call();
        return;
    }
    UiQueue& q = Queue();
    auto pending = std::make_shared<PendingCall>(std::move(call), false);
    std::unique_lock lock(q.mutex);
    if (!q.host)
        throw Exception("There is no user-interface thread to run the call");
    q.calls.push_back(pending);
    q.host->WakeUp();
    q.changed.notify_all();
    q.changed.wait(lock, [&] { return pending->done; });
    if (pending->error)
        std::rethrow_exception(pending->error);
}

void PostToUiThread(std::function<void()> call) {
    UiQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    if (!q.host)
        return; // no user-interface thread (any more) to show anything on
    q.calls.push_back(std::make_shared<PendingCall>(std::move(call), true));
    q.host->WakeUp();
    q.changed.notify_all();
}

void ProcessPendingUiCalls() {
    if (!IsUiThread())
        return;
    UiQueue& q = Queue();
    std::size_t count = 0;
    {
        std::lock_guard lock(q.mutex);
        count = q.calls.size();
    }
    // A call may open a modal dialog whose event loop runs this function again; each round
    // takes calls from the front one at a time, so nested rounds never run a call twice.
    for (; count > 0; --count) {
        std::shared_ptr<PendingCall> next;
        {
            std::lock_guard lock(q.mutex);
            if (q.calls.empty())
                return;
            next = q.calls.front();
            q.calls.pop_front();
        }
        try {
            next->call();
        } catch (...) {
            if (next->posted)
                CallGuarded([error = std::current_exception()] { std::rethrow_exception(error); });
            else
                next->error = std::current_exception();
        }
        {
            std::lock_guard lock(q.mutex);
            next->done = true;
        }
        q.changed.notify_all();
        // What the call changed (a group shown, a port chosen) shows in the actions' states.
        TUiThreadHost* host = nullptr;
        {
            std::lock_guard lock(q.mutex);
            host = q.host;
        }
        if (host)
            host->CallRan();
    }
}

std::size_t PendingUiCallCount() {
    UiQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    return static_cast<std::size_t>(
        std::count_if(q.calls.begin(), q.calls.end(), [](const auto& pending) { return !pending->posted; }));
}

bool WaitOnUiThreadUntil(const std::function<bool()>& ready,
                         std::optional<std::chrono::steady_clock::time_point> deadline) {
    UiQueue& q = Queue();
    for (;;) {
        ProcessPendingUiCalls();
        std::unique_lock lock(q.mutex);
        const auto wakeUp = [&] { return ready() || !q.calls.empty(); };
        if (deadline) {
            if (!q.changed.wait_until(lock, *deadline, wakeUp))
                return false;
        } else {
            q.changed.wait(lock, wakeUp);
        }
        if (ready())
            return true;
    }
}

void WakeUiThread() {
    UiQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    q.changed.notify_all();
}
