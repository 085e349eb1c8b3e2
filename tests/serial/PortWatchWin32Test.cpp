// SPDX-License-Identifier: MIT
// Windows's port watch looks at the ports every second and ends at once when its owner goes.
#include "PortWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(PortWatchWin32Test, TellsEverySecondAndEndsAtOnce) {
    std::atomic<int> calls{0};
    auto watch = std::make_unique<TPortWatch>(TPortRoots{}, [&] { ++calls; });
    EXPECT_FALSE(watch->Watching());
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(calls.load(), 0) << "told before the first second was over";
    std::this_thread::sleep_for(2300ms);
    EXPECT_GE(calls.load(), 2);
    EXPECT_LE(calls.load(), 3);
    const auto before = std::chrono::steady_clock::now();
    watch.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms) << "the destructor waited for the next look";
}

} // namespace
