// SPDX-License-Identifier: MIT
// One program at a time: the first start of a journal holds it, a later one hands over.
#include "RaiseCounter.h"
#include "SingleInstance.h"

#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace {

using namespace std::chrono_literals;

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::permissions(runtime.path, std::filesystem::perms::owner_all);
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        saved = old ? old : "";
        setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1);
    }
    void TearDown() override {
        if (saved.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    }

    TempDir runtime;
    std::string saved;
};

TEST_F(SingleInstanceTest, LaterStartsOfTheSameJournalHandOverToTheFirst) {
    TRaiseCounter raised;
    auto first = std::make_unique<TSingleInstance>("/home/coach/.local/share/tavro/received");
    ASSERT_TRUE(first->IsFirst());
    first->OnRaise([&] { raised(); });
    for (int n = 1; n <= 2; ++n) {
        const TSingleInstance later("/home/coach/.local/share/tavro/received");
        EXPECT_FALSE(later.IsFirst()) << n;
        EXPECT_TRUE(raised.WaitFor(n)) << n;
    }
    // Another journal is another program's business.
    EXPECT_TRUE(TSingleInstance("/tmp/elsewhere/tavro/received").IsFirst());
    // Once the first has ended, the next start is the first; also over what a killed first left.
    first.reset();
    for (const auto& entry : std::filesystem::directory_iterator(runtime.path))
        if (entry.path().extension() == ".lock")
            std::ofstream(std::filesystem::path(entry.path()).replace_extension(".sock")) << "left over";
    const TSingleInstance next("/home/coach/.local/share/tavro/received");
    EXPECT_TRUE(next.IsFirst());
    EXPECT_FALSE(TSingleInstance("/home/coach/.local/share/tavro/received").IsFirst());
    EXPECT_EQ(raised.count, 2);
}

} // namespace
