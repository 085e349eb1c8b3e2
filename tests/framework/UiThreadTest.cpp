// SPDX-License-Identifier: MIT
#include "UiThread.h"
#include "Support.h"

#include <QDialog>

#include <atomic>
#include <stdexcept>

using namespace support;

namespace {

using UiThreadTest = FrameworkTest;

// Runs `call` through RunOnUiThread on a worker thread while the user-interface thread pumps
// events; returns what the worker caught.
std::exception_ptr RunFromWorker(std::function<void()> call) {
    std::exception_ptr caught;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            RunOnUiThread(call);
        } catch (...) {
            caught = std::current_exception();
        }
        done = true;
    });
    const bool finished = WaitUntil([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(finished);
    return caught;
}

TEST_F(UiThreadTest, CallRunsOnUiThreadAndWorkerWaitsForIt) {
    std::atomic<bool> onUiThread{false};
    int value = 0; // written by the call, read by the worker after it returned
    std::atomic<int> seenByWorker{-1};
    std::thread::id callThread;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        EXPECT_FALSE(IsUiThread());
        RunOnUiThread([&] {
            onUiThread = IsUiThread();
            callThread = std::this_thread::get_id();
            value = 7;
        });
        seenByWorker = value;
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(onUiThread);
    EXPECT_EQ(callThread, std::this_thread::get_id());
    EXPECT_EQ(seenByWorker, 7);
}

TEST_F(UiThreadTest, OnUiThreadRunsDirectly) {
    bool ran = false;
    RunOnUiThread([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_THROW(RunOnUiThread([] { throw EConvertError("x"); }), EConvertError);
}

struct ErrorRow {
    const char* name;
    std::function<void()> raise;
    std::string message;
};

void PrintTo(const ErrorRow& row, std::ostream* os) {
    *os << row.name;
}

class HandedBackTest : public UiThreadTest, public ::testing::WithParamInterface<ErrorRow> {};

TEST_P(HandedBackTest, ErrorReachesCallingThread) {
    const std::exception_ptr caught = RunFromWorker(GetParam().raise);
    ASSERT_NE(caught, nullptr);
    EXPECT_EQ(ExceptionMessage(caught), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Errors, HandedBackTest,
                         ::testing::Values(ErrorRow{"Ours", [] { throw EFOpenError("Cannot open file a"); },
                                                    "Cannot open file a"},
                                           ErrorRow{"Std", [] { throw std::out_of_range("range"); }, "range"},
                                           ErrorRow{"Other", [] { throw 3.5; }, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UiThreadTest, DeliveredInsideModalDialog) {
    QDialog dialog;
    std::thread worker;
    std::atomic<bool> viaCall{false};
    // Started from inside the dialog's own event loop; the call is the only thing closing it,
    // apart from a safety net that fails the test instead of hanging.
    QTimer::singleShot(0, &dialog, [&] {
        worker = std::thread([&] {
            RunOnUiThread([&] {
                viaCall = true;
                dialog.accept();
            });
        });
    });
    QTimer::singleShot(patienceMs, &dialog, &QDialog::reject);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    worker.join();
    EXPECT_TRUE(viaCall);
}

TEST_F(UiThreadTest, QueuedCallsFailWhenApplicationEnds) {
    std::exception_ptr caught;
    bool ran = false;
    std::thread worker([&] {
        try {
            RunOnUiThread([&] { ran = true; });
        } catch (...) {
            caught = std::current_exception();
        }
    });
    ASSERT_TRUE(SpinUntil([] { return PendingUiCallCount() == 1; }));
    app.reset();
    worker.join();
    EXPECT_FALSE(ran);
    EXPECT_NE(caught, nullptr);

    // Later calls fail at once instead of waiting for a loop that will never run them.
    std::exception_ptr later;
    std::thread second([&] {
        try {
            RunOnUiThread([] {});
        } catch (...) {
            later = std::current_exception();
        }
    });
    second.join();
    EXPECT_NE(later, nullptr);
}

} // namespace
