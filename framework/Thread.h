// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// A worker thread in the manner of the VCL's TThread: created paused, resumed and paused by
// a flag that the body honours, terminated by a flag that the body polls, and waited for. The
// object never frees itself; its owner destroys it.
//
// The body (Execute) is "parked" while it waits at its pause point (CheckPaused), sleeps
// (Sleep), is blocked in a user-interface call (Synchronize), has not started yet or has
// ended. Suspend returns once the body is parked; from then on the body does nothing of its
// own until Resume or Terminate. In particular a body that was blocked in a user-interface
// call stays blocked after the call has returned. So Suspend never waits for a user-interface
// call, and the user-interface thread may pause a thread that is waiting for it.
//
// The body runs at the highest priority that the system grants without privileges.
//
// Destruction: a derived class whose Execute uses the derived class's own members must call
// EndThread() first thing in its own destructor. By the time ~TThread runs those members are
// gone, and the body must not be running any more.
class TThread {
public:
    TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Ends the body as EndThread does. A body that has never started is not started.
    virtual ~TThread();

    // Clears the paused flag and wakes the body; the first Resume starts the system thread.
    // Raises EOutOfResources when the system refuses to create the thread (it stays paused).
    void Resume();
    // Sets the paused flag and returns once the body is parked (see above). Called from the
    // body itself it only sets the flag: the body parks at its next pause point.
    void Suspend();
    bool Suspended() const;

    // Sets the termination flag and wakes a paused or sleeping body. A terminated body no
    // longer parks for a pause: CheckPaused returns false at once.
    void Terminate();
    bool Terminated() const;

    // Returns when the body has returned (at once when the thread was terminated before its
    // body ever started). On the user-interface thread it keeps running the calls that threads
    // queue for that thread meanwhile, so a body blocked in Synchronize can finish. Like the
    // VCL's, it waits for ever for a thread that is paused and not terminated.
    void WaitFor();
    // As WaitFor, giving up after `timeout`; returns whether the body has returned.
    bool WaitFor(std::chrono::milliseconds timeout);

    bool Finished() const;
    // What left Execute, if anything: the body ended there. Nothing is shown for it.
    std::exception_ptr FatalException() const;

protected:
    virtual void Execute() = 0;

    // The pause point between passes: blocks while the thread is paused and not terminated;
    // returns !Terminated().
    bool CheckPaused();
    // Sleeps for `duration`. Terminate ends the sleep early; so does Suspend, and the body then
    // stays here until it is resumed, so that it is parked at once.
    void Sleep(std::chrono::milliseconds duration);
    // Runs `call` on the user-interface thread and blocks until it has returned; what `call`
    // throws is rethrown here. If the thread was paused meanwhile, blocks on until it is
    // resumed or terminated, then returns (or rethrows).
    void Synchronize(const std::function<void()>& call);

    // Terminate, Resume, WaitFor: for derived destructors (see above).
    void EndThread();

    // Called by Suspend and Terminate once the flag is set, on the calling thread and without
    // the thread's lock held. A body that waits for something other than this class (a port,
    // say) overrides it to end that wait at once; it is then not parked, so Suspend waits for
    // it to come back to its pause point. Must not block, and may be called while the body is
    // anywhere, also not waiting at all (the next wait must then return at once).
    virtual void WakeBody() {}

private:
    void Run();
    bool WaitUntil(std::optional<std::chrono::steady_clock::time_point> deadline);
    void ParkWhilePaused(std::unique_lock<std::mutex>& lock);
    void Park(std::unique_lock<std::mutex>& lock);
    bool IsBodyThread() const;
    bool BodyDone() const;

    mutable std::mutex mutex;
    std::condition_variable wake;          // the body waits here: resume, terminate, end of sleep
    std::condition_variable parkedChanged; // Suspend and WaitFor wait here
    bool paused = true;
    bool parked = false;
    std::atomic<bool> started{false};
    std::atomic<bool> terminated{false};
    std::atomic<bool> finished{false};
    std::exception_ptr fatalException;
    std::atomic<std::thread::id> bodyThread{};
    std::thread worker;
};
