// SPDX-License-Identifier: MIT
// The watch of a TAVRO_PORT_DIR folder: ports appearing and disappearing, a lock file let go
// while a held port waits for it, and quiet while nothing happens.
#include "PortWatch.h"

#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>

namespace {

using namespace std::chrono_literals;

struct WatchRow {
    const char* name;
    // Made before the watch starts.
    std::function<void(TestPortDir&, std::unique_ptr<PseudoTerminal>&)> before;
    std::function<void(TestPortDir&, std::unique_ptr<PseudoTerminal>&, TPortWatch&)> act;
    bool called;
    std::chrono::milliseconds within;
};

void PrintTo(const WatchRow& row, std::ostream* os) {
    *os << row.name;
}

void MakeLock(TestPortDir& dir) {
    std::ofstream(dir.lockDir.path / "LCK..pts-9") << "      4711\n";
}

class PortWatchTest : public ::testing::TestWithParam<WatchRow> {};

TEST_P(PortWatchTest, TellsOfChangesAndOnlyOfThem) {
    const WatchRow& row = GetParam();
    TestPortDir dir;
    std::unique_ptr<PseudoTerminal> port;
    if (row.before)
        row.before(dir, port);
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    TPortRoots roots;
    roots.portDir = dir.path.string();
    roots.lockDir = dir.lockDir.path.string();
    TPortWatch watch(roots, [&] {
        const std::lock_guard lock(mutex);
        ++calls;
        changed.notify_all();
    });
    EXPECT_TRUE(watch.Watching());
    const auto start = std::chrono::steady_clock::now();
    row.act(dir, port, watch);
    std::unique_lock lock(mutex);
    const bool called = changed.wait_for(lock, row.within, [&] { return calls > 0; });
    EXPECT_EQ(called, row.called);
    if (row.called) {
        EXPECT_GE(std::chrono::steady_clock::now() - start, TPortWatch::settleTime / 2) << "a burst is one call";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortWatchTest,
    ::testing::Values(
        WatchRow{"PortAppears", nullptr,
                 [](TestPortDir& dir, std::unique_ptr<PseudoTerminal>& port, TPortWatch&) {
                     port = std::make_unique<PseudoTerminal>(dir.path, 5);
                 },
                 true, 1s},
        WatchRow{"PortDisappears",
                 [](TestPortDir& dir, std::unique_ptr<PseudoTerminal>& port) {
                     port = std::make_unique<PseudoTerminal>(dir.path, 5);
                 },
                 [](TestPortDir&, std::unique_ptr<PseudoTerminal>& port, TPortWatch&) { port.reset(); }, true, 1s},
        WatchRow{"NothingHappens", nullptr, [](TestPortDir&, std::unique_ptr<PseudoTerminal>&, TPortWatch&) {}, false,
                 500ms},
        WatchRow{"LockLetGoWhileAPortWaits", [](TestPortDir& dir, std::unique_ptr<PseudoTerminal>&) { MakeLock(dir); },
                 [](TestPortDir& dir, std::unique_ptr<PseudoTerminal>&, TPortWatch& watch) {
                     watch.RetryLater();
                     std::filesystem::remove(dir.lockDir.path / "LCK..pts-9");
                 },
                 true, 1s},
        WatchRow{"LockLetGoWhileNoPortWaits", [](TestPortDir& dir, std::unique_ptr<PseudoTerminal>&) { MakeLock(dir); },
                 [](TestPortDir& dir, std::unique_ptr<PseudoTerminal>&, TPortWatch&) {
                     std::filesystem::remove(dir.lockDir.path / "LCK..pts-9");
                 },
                 false, 500ms},
        WatchRow{"HeldPortIsTriedAgainLater", nullptr,
                 [](TestPortDir&, std::unique_ptr<PseudoTerminal>&, TPortWatch& watch) { watch.RetryLater(); }, true,
                 TPortWatch::retryInterval + 1s}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
