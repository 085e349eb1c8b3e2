// SPDX-License-Identifier: MIT
// A call that the kernel keeps waiting, on Linux; the portable cases are in BoundedCallTest.cpp.
#include "BoundedCall.h"

#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// A FIFO opened for reading without O_NONBLOCK blocks in open() until a writer comes: a
// system call that the kernel keeps waiting, as a wedged adapter's driver does.
TEST(BoundedCallTest, CallThatHangsIsGivenUpAndCleanedUpWhenItReturns) {
    TempDir folder;
    const std::string fifo = (folder.path / "wedged").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string key = fifo;
    std::promise<int> lateResult;
    auto late = lateResult.get_future();

    int result = -2;
    const auto started = Clock::now();
    const TBoundedStatus status = CallWithin<int>(
        key, 100ms, [fifo] { return open(fifo.c_str(), O_RDONLY | O_CLOEXEC); },
        [&lateResult](int&& fd) { lateResult.set_value(fd); }, result);
    const auto waited = Clock::now() - started;
    EXPECT_EQ(status, TBoundedStatus::timedOut);
    EXPECT_EQ(result, -2) << "no result is handed back after a time-out";
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, 2s);
    EXPECT_TRUE(BoundedCallRunning(key));

    // While it hangs, the same key is refused at once, and other keys are not held up.
    std::atomic<bool> secondRan{false};
    EXPECT_EQ(CallWithin<int>(
                  key, 5s,
                  [&] {
                      secondRan = true;
                      return 0;
                  },
                  [](int&&) {}, result),
              TBoundedStatus::busy);
    EXPECT_FALSE(secondRan);
    EXPECT_EQ(CallWithin<int>(
                  "other", 5s, [] { return 7; }, [](int&&) {}, result),
              TBoundedStatus::done);
    EXPECT_EQ(result, 7);

    // The kernel lets go: the late descriptor reaches the clean-up, and the key is free again.
    const int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(late.wait_for(10s), std::future_status::ready);
    const int lateFd = late.get();
    EXPECT_GE(lateFd, 0);
    close(lateFd);
    close(writer);
    EXPECT_TRUE(WaitFor([&] { return !BoundedCallRunning(key); }, 10s));
    EXPECT_EQ(CallWithin<int>(
                  key, 5s, [] { return 1; }, [](int&&) {}, result),
              TBoundedStatus::done);
}

} // namespace
