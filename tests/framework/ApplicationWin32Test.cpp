// SPDX-License-Identifier: MIT
// The Win32 application object under Wine: other threads' calls reach the user-interface
// thread through its message loop, also while a thread waits there; Terminate from any thread
// ends the loop.
#include "ApplicationWin32.h"
#include "Exceptions.h"
#include "Thread.h"
#include "UiThread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A body that runs `passes` calls on the user-interface thread, then ends the application.
class CallingThread : public TThread {
public:
    CallingThread(TWin32Application& application, int passes) : application(application), passes(passes) {}
    ~CallingThread() override { EndThread(); }

    std::atomic<int> ran{0};
    std::atomic<bool> allOnUiThread{true};

protected:
    void Execute() override {
        for (int i = 0; i < passes && CheckPaused(); ++i)
            Synchronize([this] {
                if (!IsUiThread())
                    allOnUiThread = false;
                ++ran;
            });
        application.Terminate();
    }

private:
    TWin32Application& application;
    const int passes;
};

TEST(ApplicationWin32Test, CallsRunInTheMessageLoopAndTerminateEndsIt) {
    TWin32Application application;
    EXPECT_EQ(ApplicationCore, &application);
    EXPECT_THROW(TWin32Application(), Exception) << "one application object at a time";
    CallingThread thread(application, 50);
    thread.Resume();
    application.Run();
    EXPECT_TRUE(application.Terminated());
    EXPECT_EQ(thread.ran.load(), 50);
    EXPECT_TRUE(thread.allOnUiThread.load());
    thread.WaitFor();
    application.Run(); // terminating already: returns at once
}

TEST(ApplicationWin32Test, ErrorsComeBackToTheCallingThreadAndQueuedCallsFailAtTheEnd) {
    std::exception_ptr raised;
    std::thread caller;
    {
        TWin32Application application;
        caller = std::thread([&] {
            try {
                RunOnUiThread([] { throw std::runtime_error("from the call"); });
            } catch (...) {
                raised = std::current_exception();
            }
            application.Terminate();
        });
        application.Run();
        caller.join();
        EXPECT_EQ(ExceptionMessage(raised), "from the call");

        std::atomic<bool> queued{false};
        caller = std::thread([&] {
            queued = true;
            try {
                RunOnUiThread([] {});
            } catch (...) {
                raised = std::current_exception();
            }
        });
        while (!queued || PendingUiCallCount() == 0)
            std::this_thread::sleep_for(1ms);
    }
    caller.join();
    EXPECT_EQ(ExceptionMessage(raised), "The application ended before the call could run");
    EXPECT_EQ(ApplicationCore, nullptr);
}

// Receiver threads run at the highest level below time-critical.
TEST(ApplicationWin32Test, ThreadBodiesRunAtTheHighestPriority) {
    class PriorityThread : public TThread {
    public:
        ~PriorityThread() override { EndThread(); }
        std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};

    protected:
        void Execute() override { priority = GetThreadPriority(GetCurrentThread()); }
    };
    PriorityThread thread;
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(thread.priority.load(), THREAD_PRIORITY_HIGHEST);
}

} // namespace
