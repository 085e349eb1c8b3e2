// SPDX-License-Identifier: MIT
#include "LongWork.h"
#include "Actions.h"
#include "Support.h"

#include <QProgressDialog>
#include <QPushButton>

#include <atomic>

using namespace support;

namespace {

class LongWorkTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        saved = TLongWork::CurrentTiming();
    }
    void TearDown() override {
        TLongWork::SetTiming(saved);
        TLongWork::SetHook({});
        FrameworkTest::TearDown();
    }
    TLongWork::Timing saved;
};

// A receiver thread's call waits for the work's next pump, not for its end; the dialog stays
// away while the work is short.
TEST_F(LongWorkTest, StepsRunTheQueuedCalls) {
    TLongWork::SetTiming({std::chrono::hours(1), std::chrono::milliseconds(0)});
    TLongWork work(nullptr, "Printing page 1", 1000);
    EXPECT_TRUE(TLongWork::Running());
    std::atomic<bool> called{false};
    std::atomic<bool> returned{false};
    std::thread receiver([&] {
        RunOnUiThread([&] { called = true; });
        returned = true;
    });
    int steps = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!returned && std::chrono::steady_clock::now() < deadline)
        ASSERT_TRUE(work.Step(++steps));
    receiver.join();
    EXPECT_TRUE(called);
    EXPECT_EQ(work.Dialog(), nullptr);
    EXPECT_EQ(work.Value(), steps);
}

TEST_F(LongWorkTest, DialogShowsTextAndProgress) {
    TLongWork::SetTiming({std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
    app->Title = "Tavro";
    QWidget owner;
    TLongWork work(&owner, "Printing page 1", 10);
    EXPECT_EQ(work.Dialog(), nullptr) << "nothing is shown before the first pump";
    ASSERT_TRUE(work.Step(3));
    QProgressDialog* dialog = work.Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), "Tavro");
    EXPECT_EQ(dialog->labelText(), "Printing page 1");
    EXPECT_EQ(dialog->value(), 3);
    EXPECT_EQ(dialog->maximum(), 10);
    work.SetText("Printing page 2");
    work.SetMaximum(20);
    ASSERT_TRUE(work.Step(12));
    EXPECT_EQ(dialog->labelText(), "Printing page 2");
    EXPECT_EQ(dialog->value(), 12);
    EXPECT_EQ(dialog->maximum(), 20);
    ASSERT_NE(dialog->findChild<QPushButton*>(), nullptr);
    EXPECT_EQ(dialog->findChild<QPushButton*>()->text(), "Cancel");
}

struct CancelRow {
    const char* name;
    bool cancellable;
    std::function<void(TLongWork&)> act;
    bool cancelled;
};

void PrintTo(const CancelRow& row, std::ostream* os) {
    *os << row.name;
}

void ClickCancel(TLongWork& work) {
    work.Dialog()->findChild<QPushButton*>()->click();
}
void PressEscape(TLongWork& work) {
    QTest::keyClick(work.Dialog(), Qt::Key_Escape);
}
void CloseBox(TLongWork& work) {
    work.Dialog()->close();
}
void Terminate(TLongWork&) {
    Application->Terminate();
}

class CancelTest : public LongWorkTest, public ::testing::WithParamInterface<CancelRow> {};

TEST_P(CancelTest, EndsTheWorkOnlyWhenCancellable) {
    TLongWork::SetTiming({std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
    TLongWork work(nullptr, "Saving", 10);
    work.SetCancellable(GetParam().cancellable);
    int pumps = 0;
    TLongWork::SetHook([&](TLongWork& w) {
        if (++pumps == 2)
            GetParam().act(w);
    });
    int steps = 0;
    while (steps < 10 && work.Step(steps + 1))
        ++steps;
    EXPECT_EQ(work.Cancelled(), GetParam().cancelled);
    EXPECT_EQ(steps, GetParam().cancelled ? 1 : 10) << "the step of the cancel reports it";
    ASSERT_NE(work.Dialog(), nullptr);
    EXPECT_TRUE(work.Dialog()->isVisible()) << "the dialog stays until the work ends";
    EXPECT_EQ(work.Dialog()->findChild<QPushButton*>()->isEnabled(), GetParam().cancellable);
}

INSTANTIATE_TEST_SUITE_P(Ways, CancelTest,
                         ::testing::Values(CancelRow{"Button", true, ClickCancel, true},
                                           CancelRow{"Escape", true, PressEscape, true},
                                           CancelRow{"CloseBox", true, CloseBox, true},
                                           CancelRow{"Terminating", true, Terminate, true},
                                           CancelRow{"ButtonNotCancellable", false, ClickCancel, false},
                                           CancelRow{"EscapeNotCancellable", false, PressEscape, false},
                                           CancelRow{"CloseBoxNotCancellable", false, CloseBox, false},
                                           CancelRow{"TerminatingNotCancellable", false, Terminate, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LongWorkTest, WaitUntilRunsCallsWhileAnotherThreadWorks) {
    TLongWork::SetTiming({std::chrono::hours(1), std::chrono::milliseconds(5)});
    TLongWork work(nullptr, "Saving", 1);
    std::atomic<bool> called{false};
    std::atomic<bool> done{false};
    std::thread receiver([&] { RunOnUiThread([&] { called = true; }); });
    // The other thread's work ends only after the receiver's call has run on this thread.
    std::thread writer([&] {
        SpinUntil([&] { return called.load(); });
        done = true;
        WakeUiThread();
    });
    work.WaitUntil([&] { return done.load(); });
    receiver.join();
    writer.join();
    EXPECT_TRUE(called);
}

TEST_F(LongWorkTest, NoCommandStartsMeanwhile) {
    CaptureMessageBoxes();
    TActionList list;
    int runs = 0;
    TAction* print = list.Add("actPrint");
    print->OnExecute = [&] { ++runs; };
    {
        TLongWork::SetTiming({std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
        TLongWork work(nullptr, "Printing page 1", 1);
        TLongWork::SetHook([&](TLongWork&) { print->trigger(); });
        work.Step(1);
        EXPECT_EQ(runs, 0);
    }
    EXPECT_FALSE(TLongWork::Running());
    print->trigger();
    EXPECT_EQ(runs, 1);
}

} // namespace
