// SPDX-License-Identifier: MIT
#include "Thread.h"

#include "Exceptions.h"
#include "ThreadPriority.h"
#include "UiThread.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

TThread::TThread() = default;

TThread::~TThread() {
    EndThread();
    if (worker.joinable())
        worker.join();
}

void TThread::EndThread() {
    Terminate();
    Resume();
    WaitFor();
}

void TThread::Resume() {
    std::lock_guard lock(mutex);
    paused = false;
    if (!started && !terminated) {
        try {
            worker = std::thread(&TThread::Run, this);
        } catch (const std::system_error& e) {
            paused = true;
            throw EOutOfResources(std::string("Cannot create a thread: ") + e.what());
        }
        // The new body takes the mutex first thing, so it sees both before it can run.
        bodyThread.store(worker.get_id());
        started = true;
    }
    wake.notify_all();
}

void TThread::Suspend() {
    std::unique_lock lock(mutex);
    paused = true;
    wake.notify_all();
    if (IsBodyThread())
        return;
    lock.unlock();
    WakeBody();
    lock.lock();
    parkedChanged.wait(lock, [this] { return parked || !started || finished; });
}

bool TThread::Suspended() const {
    std::lock_guard lock(mutex);
    return paused;
}

void TThread::Terminate() {
    {
        std::lock_guard lock(mutex);
        terminated = true;
        wake.notify_all();
        parkedChanged.notify_all();
    }
    WakeBody();
    // A thread terminated before it started counts as done: a user-interface thread waiting
    // for it must look again.
    WakeUiThread();
}

bool TThread::Terminated() const {
    return terminated;
}

bool TThread::Finished() const {
    return finished;
}

std::exception_ptr TThread::FatalException() const {
    std::lock_guard lock(mutex);
    return fatalException;
}

bool TThread::BodyDone() const {
    return finished || (!started && terminated);
}

bool TThread::IsBodyThread() const {
    return bodyThread.load() == std::this_thread::get_id();
}

void TThread::WaitFor() {
    WaitUntil(std::nullopt);
}

bool TThread::WaitFor(std::chrono::milliseconds timeout) {
    constexpr auto longest = std::chrono::milliseconds(std::chrono::hours(24 * 365));
    return WaitUntil(std::chrono::steady_clock::now() + std::min(timeout, longest));
}

bool TThread::WaitUntil(std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (IsBodyThread())
        throw std::logic_error("A thread cannot wait for its own end");
    if (IsUiThread())
        return WaitOnUiThreadUntil([this] { return BodyDone(); }, deadline);
    std::unique_lock lock(mutex);
    if (deadline)
        return parkedChanged.wait_until(lock, *deadline, [this] { return BodyDone(); });
    parkedChanged.wait(lock, [this] { return BodyDone(); });
    return true;
}

void TThread::ParkWhilePaused(std::unique_lock<std::mutex>& lock) {
    if (!paused || terminated)
        return;
    Park(lock);
}

// The body leaves a parked state only here, under the mutex, and only when it is not paused
// (or terminated): once Suspend has seen it parked, it cannot slip out before Resume.
void TThread::Park(std::unique_lock<std::mutex>& lock) {
    parked = true;
    parkedChanged.notify_all();
    wake.wait(lock, [this] { return !paused || terminated; });
    parked = false;
}

bool TThread::CheckPaused() {
    std::unique_lock lock(mutex);
    ParkWhilePaused(lock);
    return !terminated;
}

void TThread::Sleep(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex);
    parked = true;
    parkedChanged.notify_all();
    wake.wait_for(lock, duration, [this] { return terminated || paused; });
    Park(lock);
}

void TThread::Synchronize(const std::function<void()>& call) {
    {
        std::lock_guard lock(mutex);
        parked = true;
        parkedChanged.notify_all();
    }
    std::exception_ptr error;
    try {
        RunOnUiThread(call);
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::unique_lock lock(mutex);
        Park(lock);
    }
    if (error)
        std::rethrow_exception(error);
}

void TThread::Run() {
    RaiseCurrentThreadPriority();
    {
        std::unique_lock lock(mutex);
        ParkWhilePaused(lock);
    }
    std::exception_ptr error;
    if (!terminated) {
        try {
            Execute();
        } catch (...) {
            error = std::current_exception();
        }
    }
    {
        std::lock_guard lock(mutex);
        fatalException = error;
        finished = true;
        parked = false;
        parkedChanged.notify_all();
    }
    WakeUiThread();
}
