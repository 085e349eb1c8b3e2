// SPDX-License-Identifier: MIT
// For tests that run the program's Qt parts: one TApplication per test over the run's one
// Qt application, and the bytes a pseudo-terminal's device side receives while the event
// loop runs (so that receiver threads can finish their calls to the window meanwhile).
#pragma once

#include "Application.h"
#include "PseudoTerminal.h"

#include <QTest>

#include <chrono>
#include <memory>
#include <vector>

inline std::unique_ptr<TApplication> MakeTestApplication() {
    static int argc = 1;
    static char name[] = "tavro-tests";
    static char* argv[] = {name, nullptr};
    return std::make_unique<TApplication>(argc, argv);
}

// Up to `count` bytes that the port under test sent to the device side, waiting at most
// `timeoutMs` while the user-interface thread's events run.
inline std::vector<unsigned char> CollectFrom(const PseudoTerminal& port, std::size_t count, int timeoutMs) {
    std::vector<unsigned char> got;
    // On a time-out the caller gets what came meanwhile.
    (void)QTest::qWaitFor(
        [&] {
            const auto more = port.Receive(count - got.size(), std::chrono::milliseconds(0));
            got.insert(got.end(), more.begin(), more.end());
            return got.size() >= count;
        },
        timeoutMs);
    return got;
}
