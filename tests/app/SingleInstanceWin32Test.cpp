// SPDX-License-Identifier: MIT
// One copy per user and journal folder on Windows: the claim is a named object of the session,
// so what a first instance leaves is released with it, and a later start knocks on its event.
#include "RaiseCounter.h"
#include "SingleInstance.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

using namespace std::chrono_literals;

TEST(SingleInstanceWin32Test, LaterStartsOfTheSameJournalHandOverToTheFirst) {
    const std::string journal = "C:\\Users\\coach\\AppData\\Local\\Tavro\\received";
    TRaiseCounter raised;
    auto first = std::make_unique<TSingleInstance>(journal);
    ASSERT_TRUE(first->IsFirst());
    first->OnRaise([&] { raised(); });
    for (int n = 1; n <= 2; ++n) {
        const TSingleInstance later(journal);
        EXPECT_FALSE(later.IsFirst()) << n;
        EXPECT_TRUE(raised.WaitFor(n)) << n;
    }
    // The same folder however it is spelt; another folder is another program's business.
    EXPECT_FALSE(TSingleInstance("c:/users/COACH/AppData/Local/Tavro/received").IsFirst());
    EXPECT_TRUE(TSingleInstance("D:\\elsewhere\\Tavro\\received").IsFirst());
    // Once the first has ended, the next start is the first.
    first.reset();
    const TSingleInstance next(journal);
    EXPECT_TRUE(next.IsFirst());
    EXPECT_FALSE(TSingleInstance(journal).IsFirst());
    EXPECT_EQ(raised.count, 3);
}

} // namespace
