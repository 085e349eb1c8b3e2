// SPDX-License-Identifier: MIT
#include "Thread.h"
#include "Support.h"
#include "UiThread.h"

#include <QCoreApplication>

#include <atomic>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

using namespace support;

namespace {

// A thread whose body is given as a function; the protected helpers are opened to it.
class TestThread : public TThread {
public:
    explicit TestThread(std::function<void(TestThread&)> body) : body(std::move(body)) {}
    ~TestThread() override { EndThread(); }

    using TThread::CheckPaused;
    using TThread::Sleep;
    using TThread::Synchronize;

private:
    void Execute() override { body(*this); }
    std::function<void(TestThread&)> body;
};

// Counts the body's passes and catches any pass made while the test holds the thread paused.
struct Passes {
    std::atomic<int> count{0};
    std::atomic<bool> mustBeParked{false};
    std::atomic<int> violations{0};

    void Pass() {
        if (mustBeParked)
            ++violations;
        ++count;
    }
};

using ThreadTest = FrameworkTest;

TEST_F(ThreadTest, CreatedPausedRunsNothingUntilResumed) {
    Passes idle;
    Passes sibling;
    TestThread created([&](TestThread& t) {
        while (t.CheckPaused())
            idle.Pass();
    });
    TestThread running([&](TestThread& t) {
        while (t.CheckPaused()) {
            sibling.Pass();
            t.Sleep(1ms);
        }
    });
    running.Resume();
    // The sibling's passes are the clock: the created thread had all that time to misbehave.
    ASSERT_TRUE(SpinUntil([&] { return sibling.count >= 20; }));
    EXPECT_EQ(idle.count, 0);
    EXPECT_TRUE(created.Suspended());
    EXPECT_FALSE(created.Finished());

    created.Resume();
    EXPECT_TRUE(SpinUntil([&] { return idle.count > 0; }));
}

// How the body spends a pass; each kind parks in a different place.
enum class BodyKind { Spinning, Sleeping, Synchronizing };

void PrintTo(BodyKind kind, std::ostream* os) {
    *os << (kind == BodyKind::Spinning ? "Spinning" : kind == BodyKind::Sleeping ? "Sleeping" : "Synchronizing");
}

class SuspendResumeTest : public ThreadTest, public ::testing::WithParamInterface<BodyKind> {};

TEST_P(SuspendResumeTest, NoPassAfterSuspendReturned) {
    Passes passes;
    const BodyKind kind = GetParam();
    TestThread thread([&](TestThread& t) {
        while (t.CheckPaused()) {
            if (kind == BodyKind::Synchronizing)
                t.Synchronize([] {});
            passes.Pass();
            if (kind != BodyKind::Spinning)
                t.Sleep(1ms);
        }
    });
    for (int round = 0; round < 100; ++round) {
        const int before = passes.count;
        passes.mustBeParked = false;
        thread.Resume();
        ASSERT_TRUE(WaitUntil([&] { return passes.count > before; })) << "round " << round;
        thread.Suspend();
        ASSERT_TRUE(thread.Suspended());
        passes.mustBeParked = true;
        // A body held in Synchronize gets its call answered now and must stay parked anyway.
        ProcessPendingUiCalls();
        WaitUntil([&] { return passes.violations > 0; }, 2);
    }
    EXPECT_EQ(passes.violations, 0);
}

INSTANTIATE_TEST_SUITE_P(Bodies, SuspendResumeTest,
                         ::testing::Values(BodyKind::Spinning, BodyKind::Sleeping, BodyKind::Synchronizing));

TEST_F(ThreadTest, SuspendFromUiThreadWhileBodyWaitsForIt) {
    std::atomic<bool> inCall{false};
    std::atomic<int> callsRun{0};
    std::atomic<int> afterCall{0};
    TestThread thread([&](TestThread& t) {
        while (t.CheckPaused()) {
            inCall = true;
            t.Synchronize([&] { ++callsRun; });
            ++afterCall;
            t.Sleep(1ms);
        }
    });
    thread.Resume();
    // No event runs here: the body's call stays queued, the body blocked in it.
    ASSERT_TRUE(SpinUntil([&] { return inCall && PendingUiCallCount() == 1; }));

    EXPECT_LT(TimeOf([&] { thread.Suspend(); }), prompt);
    ProcessPendingUiCalls();
    EXPECT_EQ(callsRun, 1);
    EXPECT_FALSE(WaitUntil([&] { return afterCall > 0; }, 200)) << "the body went on while paused";

    thread.Resume();
    EXPECT_TRUE(WaitUntil([&] { return afterCall > 0; }));
}

TEST_F(ThreadTest, WaitForOnUiThreadRunsQueuedCalls) {
    constexpr int threadCount = 16;
    std::atomic<int> callsRun{0};
    std::vector<std::unique_ptr<TestThread>> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.push_back(std::make_unique<TestThread>([&](TestThread& t) {
            while (t.CheckPaused()) {
                t.Synchronize([&] { ++callsRun; });
                t.Sleep(100ms);
            }
        }));
        threads.back()->Resume();
    }
    ASSERT_TRUE(SpinUntil([&] { return PendingUiCallCount() == threadCount; }));

    const auto elapsed = TimeOf([&] {
        for (auto& thread : threads)
            thread->Terminate();
        for (auto& thread : threads)
            thread->WaitFor();
    });
    EXPECT_LT(elapsed, prompt);
    EXPECT_EQ(callsRun, threadCount);
    for (auto& thread : threads)
        EXPECT_TRUE(thread->Finished());
}

TEST_F(ThreadTest, WaitForFromAnotherThreadAndWithTimeout) {
    TestThread thread([](TestThread& t) {
        while (t.CheckPaused())
            t.Sleep(60s);
    });
    thread.Resume();
    EXPECT_FALSE(thread.WaitFor(50ms));
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        thread.WaitFor();
        waited = true;
    });
    thread.Terminate();
    waiter.join();
    EXPECT_TRUE(waited);
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(thread.FatalException(), nullptr);
}

struct FailureRow {
    const char* name;
    bool throughUiCall;
    std::function<void()> raise;
    std::string message;
};

void PrintTo(const FailureRow& row, std::ostream* os) {
    *os << row.name;
}

class FatalExceptionTest : public ThreadTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(FatalExceptionTest, EndsBodyAndIsKept) {
    const FailureRow& row = GetParam();
    CaptureMessageBoxes();
    std::atomic<bool> raisedOnUiThread{false};
    std::atomic<bool> wentOn{false};
    TestThread thread([&](TestThread& t) {
        if (row.throughUiCall) {
            t.Synchronize([&] {
                raisedOnUiThread = IsUiThread();
                row.raise();
            });
        } else {
            row.raise();
        }
        wentOn = true;
    });
    thread.Resume();
    ASSERT_TRUE(WaitUntil([&] { return thread.Finished(); }));
    EXPECT_FALSE(wentOn);
    EXPECT_EQ(raisedOnUiThread.load(), row.throughUiCall);
    ASSERT_NE(thread.FatalException(), nullptr);
    EXPECT_EQ(ExceptionMessage(thread.FatalException()), row.message);
    EXPECT_TRUE(boxes.empty()) << "nothing is shown for a thread's error";
}

INSTANTIATE_TEST_SUITE_P(
    Errors, FatalExceptionTest,
    ::testing::Values(FailureRow{"OursInUiCall", true, [] { throw EConvertError("bad value"); }, "bad value"},
                      FailureRow{"StdInUiCall", true, [] { throw std::runtime_error("broken"); }, "broken"},
                      FailureRow{"OtherInUiCall", true, [] { throw 42; }, ""},
                      FailureRow{"OursInBody", false, [] { throw EOutOfResources("no more"); }, "no more"}),
    [](const auto& info) { return std::string(info.param.name); });

// Where the thread stands when it is destroyed.
enum class Stand { NeverStarted, PausedAtPausePoint, Sleeping, PausedInSleep, PausedInUiCall };

void PrintTo(Stand stand, std::ostream* os) {
    constexpr const char* names[] = {"NeverStarted", "PausedAtPausePoint", "Sleeping", "PausedInSleep",
                                     "PausedInUiCall"};
    *os << names[static_cast<int>(stand)];
}

class DestroyTest : public ThreadTest, public ::testing::WithParamInterface<Stand> {};

TEST_P(DestroyTest, IsPrompt) {
    std::atomic<bool> ran{false};
    std::atomic<bool> inCall{false};
    const Stand stand = GetParam();
    auto thread = std::make_unique<TestThread>([&](TestThread& t) {
        ran = true;
        while (t.CheckPaused()) {
            if (stand == Stand::PausedInUiCall) {
                inCall = true;
                t.Synchronize([] {});
            }
            t.Sleep(60s);
        }
    });
    if (stand != Stand::NeverStarted) {
        thread->Resume();
        ASSERT_TRUE(SpinUntil([&] { return ran && (stand != Stand::PausedInUiCall || PendingUiCallCount() == 1); }));
        if (stand != Stand::Sleeping)
            thread->Suspend();
    }
    EXPECT_LT(TimeOf([&] { thread.reset(); }), prompt);
    EXPECT_EQ(ran.load(), stand != Stand::NeverStarted);
}

INSTANTIATE_TEST_SUITE_P(Stands, DestroyTest,
                         ::testing::Values(Stand::NeverStarted, Stand::PausedAtPausePoint, Stand::Sleeping,
                                           Stand::PausedInSleep, Stand::PausedInUiCall));

// RLIMIT_NICE soft value, and the nice value the body must then run at.
struct PriorityRow {
    rlim_t niceLimit;
    int expectedNice;
};

void PrintTo(const PriorityRow& row, std::ostream* os) {
    *os << "RLIMIT_NICE " << row.niceLimit;
}

class PriorityTest : public ThreadTest, public ::testing::WithParamInterface<PriorityRow> {};

TEST_P(PriorityTest, HighestAllowedWithoutPrivileges) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NICE, &saved), 0);
    rlimit wanted = saved;
    wanted.rlim_cur = GetParam().niceLimit;
    if (setrlimit(RLIMIT_NICE, &wanted) != 0)
        GTEST_SKIP() << "RLIMIT_NICE cannot be set to " << GetParam().niceLimit << " here";
    errno = 0;
    const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    ASSERT_EQ(errno, 0);

    std::atomic<int> bodyNice{100};
    TestThread thread([&](TestThread&) { bodyNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); });
    thread.Resume();
    thread.WaitFor();
    setrlimit(RLIMIT_NICE, &saved);
    // Never below the creator's priority; up to the limit, and no further even for root.
    EXPECT_EQ(bodyNice, std::min(own, GetParam().expectedNice));
}

INSTANTIATE_TEST_SUITE_P(Limits, PriorityTest, ::testing::Values(PriorityRow{0, 20}, PriorityRow{25, -5}));

} // namespace
