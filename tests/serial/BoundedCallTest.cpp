// SPDX-License-Identifier: MIT
// Run by the Linux and the Windows build alike.
#include "BoundedCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

using namespace std::chrono_literals;

TEST(BoundedCallTest, CallInTimeHandsItsResultBack) {
    int result = 0;
    bool abandoned = false;
    EXPECT_EQ(CallWithin<int>(
                  "quick", 5s, [] { return 42; }, [&](int&&) { abandoned = true; }, result),
              TBoundedStatus::done);
    EXPECT_EQ(result, 42);
    EXPECT_FALSE(BoundedCallRunning("quick"));
    EXPECT_FALSE(abandoned);
}

// Opening sixteen ports starts sixteen short calls one after another, at every start and every
// rescan: each must run exactly once and hand back its own result. A thread that is lost before
// it runs shows as a time-out here, one started with another's state as a wrong result or a
// crash.
TEST(BoundedCallTest, ManyShortCallsInARowEachRunOnce) {
    constexpr int calls = 3000;
    std::atomic<int> ran{0};
    for (int i = 0; i < calls; ++i) {
        int result = -1;
        const TBoundedStatus status = CallWithin<int>(
            "port " + std::to_string(i % 16), 5s,
            [i, &ran] {
                ++ran;
                return i;
            },
            [](int&&) {}, result);
        ASSERT_EQ(status, TBoundedStatus::done) << "call " << i;
        ASSERT_EQ(result, i);
    }
    EXPECT_EQ(ran.load(), calls);
}

} // namespace
