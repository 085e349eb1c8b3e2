// SPDX-License-Identifier: MIT
// The window as the coach meets it: listening on every port, choosing the one the timer
// speaks on, showing and answering groups, and letting go of everything on exit.
#include "WindowFixture.h"

#include "ForeignProgram.h"
#include "PortLock.h"

#include <QElapsedTimer>
#include <QStatusBar>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace window {
namespace {

using ConnectionTest = WindowTest;

// The status bar's tool tip, brought up to date as the idle updates would.
std::string StatusToolTip(TMainForm& form) {
    form.Actions().UpdateAll();
    return form.findChild<QStatusBar*>(QStringLiteral("StatusBar1"))->toolTip().toStdString();
}

TEST_F(ConnectionTest, ListensOnAllPortsThenKeepsTheOneThatSpeaks) {
    Plug({1, 3});
    OpenWindow();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(form->AnyPortOpen());
    EXPECT_EQ(Panel(0), "Opened Com Port:   COM1 COM3");
    EXPECT_EQ(Panel(1), "");
    // The real devices behind the links; a pseudo-terminal has no description.
    const std::string pts1 = std::filesystem::read_symlink(Port(1).link).string();
    const std::string pts3 = std::filesystem::read_symlink(Port(3).link).string();
    EXPECT_EQ(StatusToolTip(*form), "COM1: " + pts1 + "\nCOM3: " + pts3);
    EXPECT_FALSE(Action("actConnect").isEnabled());
    EXPECT_TRUE(Action("actDisconnect").isEnabled());

    Port(3).Send(header());
    ASSERT_TRUE(WaitUntil([&] { return form->PortChosen(); }));
    EXPECT_FALSE(form->CommThread(0).IsPortOpen());
    EXPECT_TRUE(form->CommThread(2).IsPortOpen());
    EXPECT_EQ(Panel(0), "Opened Com Port:   COM3");
    EXPECT_EQ(Panel(1), "Receive data from  COM3, baud rate = 9600bps");
    EXPECT_EQ(StatusToolTip(*form), "COM3: " + pts3);
}

TEST_F(ConnectionTest, GroupIsShownBeforeItIsAnswered) {
    Plug({2, 3});
    OpenWindow();
    Port(3).Send(example::groupBytes);
    // Read the reply without letting the window run in between: when the byte is there, the
    // text must be there already.
    Bytes reply;
    std::size_t linesWhenAnswered = 0;
    ASSERT_TRUE(WaitUntil([&] {
        reply = Port(3).Receive(1, 0ms);
        linesWhenAnswered = static_cast<std::size_t>(MemoLineCount(Memo()));
        return !reply.empty();
    }));
    EXPECT_EQ(reply, Bytes{0xFA});
    EXPECT_EQ(linesWhenAnswered, example::reportLines.size());
    EXPECT_EQ(MemoLines(), example::reportLines);
    EXPECT_EQ(Label(), "   1 group(s) received data");
    EXPECT_EQ(form->GroupCount(), 1);
    // Nothing more is sent for the same group.
    EXPECT_TRUE(Collect(3, 1, 300).empty());
    EXPECT_TRUE(Port(2).Receive(1, 0ms).empty());
}

// The status line and the clear button follow what the receivers did without anyone asking
// for an update (the window has no timer): the calls they made are the event.
TEST_F(ConnectionTest, StatusAndButtonsFollowTheReceiversByThemselves) {
    Plug({1, 3});
    OpenWindow();
    auto panel = [&](int i) {
        return form->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->text().toStdString();
    };
    auto* clear = form->findChild<TAction*>(QStringLiteral("actClear"));
    ASSERT_TRUE(WaitUntil([&] { return panel(0) == "Opened Com Port:   COM1 COM3"; }));
    EXPECT_FALSE(clear->isEnabled());

    Port(3).Send(example::groupBytes);
    EXPECT_TRUE(WaitUntil([&] { return panel(1) == "Receive data from  COM3, baud rate = 9600bps"; }));
    EXPECT_TRUE(WaitUntil([&] { return panel(0) == "Opened Com Port:   COM3"; }));
    EXPECT_TRUE(WaitUntil([&] { return clear->isEnabled(); }));
}

TEST_F(ConnectionTest, WrongCheckValueIsAnsweredF0AndNotShown) {
    Plug({3});
    OpenWindow();
    Port(3).Send(example::badCheckBytes());
    EXPECT_EQ(Collect(3, 1), Bytes{0xF0});
    EXPECT_TRUE(Collect(3, 1, 500).empty()); // answered once, not on every poll
    EXPECT_EQ(ViewText(), "");
    EXPECT_EQ(form->GroupCount(), 0);
    // The timer sends it again, correctly: shown once, answered 0xFA.
    Port(3).Send(example::groupBytes);
    ASSERT_TRUE(WaitUntil([&] { return form->GroupCount() == 1; }));
    EXPECT_EQ(Collect(3, 1), Bytes{0xFA});
    EXPECT_EQ(MemoLines(), example::reportLines);
}

TEST_F(ConnectionTest, DisconnectAndConnectListenAgainEverywhere) {
    Plug({1, 3});
    OpenWindow();
    Port(3).Send(header());
    ASSERT_TRUE(WaitUntil([&] { return form->PortChosen(); }));

    Action("actDisconnect").trigger();
    EXPECT_FALSE(form->AnyPortOpen());
    EXPECT_FALSE(form->PortChosen());
    EXPECT_EQ(Panel(0), "Opened Com Port:  ");
    EXPECT_EQ(Panel(1), "");
    EXPECT_TRUE(Action("actConnect").isEnabled());
    EXPECT_FALSE(Action("actDisconnect").isEnabled());

    Action("actConnect").trigger();
    EXPECT_EQ(Panel(0), "Opened Com Port:   COM1 COM3");
    // The timer is chosen anew, on whichever port it speaks now.
    Port(1).Send(header());
    ASSERT_TRUE(WaitUntil([&] { return form->PortChosen(); }));
    EXPECT_EQ(Panel(0), "Opened Com Port:   COM1");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ConnectionTest, NoPortAsksToRetryWithReasons) {
    answers = {mrRetry, mrCancel};
    OpenWindow();
    ASSERT_EQ(boxes.size(), 2u);
    for (const MessageBoxRequest& box : boxes) {
        EXPECT_EQ(box.text, "No COM port can be opened. Retry?");
        EXPECT_EQ(box.caption, "Retry");
        EXPECT_EQ(box.buttons, mbRetryCancel);
        EXPECT_EQ(box.icon, miQuestion);
        EXPECT_EQ(box.detail, "No serial ports were found.");
    }
    EXPECT_TRUE(application->Terminated());
    EXPECT_FALSE(form->AnyPortOpen());
}

TEST_F(ConnectionTest, RetryExplainsBusyPortsAndFindsThemFreed) {
    // Another program holds the only port; the box says so, and Retry opens it once freed.
    Plug({2});
    int holder = ::open(Port(2).link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    answers = {mrRetry};
    onBox = [&](const MessageBoxRequest&) {
        ::close(holder);
        holder = -1;
    };
    OpenWindow();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].detail.rfind("COM2 (", 0), 0u) << boxes[0].detail;
    EXPECT_TRUE(form->CommThread(1).IsPortOpen());
    EXPECT_FALSE(application->Terminated());
}

// Another program (a terminal program) uses one of the ports with a lock file, as minicom
// does. Its port is never opened, not even to try it: its line keeps the program's settings.
TEST_F(ConnectionTest, PortThatAnotherProgramLockedIsLeftAlone) {
    const struct Row {
        const char* description;
        std::vector<int> plugged;
        int timerPort; // 0: no timer
    } rows[] = {
        {"the only port: the retry box names the program", {2}, 0},
        {"one of four: the timer is found on another", {1, 2, 3, 4}, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        for (const int n : row.plugged)
            Plug({n});
        termios line{};
        ASSERT_EQ(tcgetattr(Port(2).slave, &line), 0);
        cfsetispeed(&line, B115200);
        cfsetospeed(&line, B115200);
        line.c_lflag |= ICANON;
        ASSERT_EQ(tcsetattr(Port(2).slave, TCSANOW, &line), 0);
        ForeignProgram minicom("minicom");
        minicom.Lock(dir.lockDir.path / LockFileName(std::filesystem::read_symlink(Port(2).link).string()));
        answers = {mrCancel};

        OpenWindow();
        EXPECT_FALSE(form->CommThread(1).IsPortOpen());
        if (row.timerPort == 0) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, "No COM port can be opened. Retry?");
            EXPECT_EQ(boxes[0].detail, "COM2 (" + Port(2).link.string() + "): in use by minicom (PID " +
                                           std::to_string(minicom.pid) + ")");
        } else {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(Panel(0), "Opened Com Port:   COM1 COM3 COM4");
            // The rescans of the ports that did not open leave it alone as well.
            EXPECT_FALSE(WaitUntil([&] { return form->CommThread(1).IsPortOpen(); }, 2500));
            Port(row.timerPort).Send(header());
            ASSERT_TRUE(WaitUntil([&] { return form->PortChosen(); }));
            EXPECT_TRUE(form->CommThread(row.timerPort - 1).IsPortOpen());
            EXPECT_EQ(Panel(0), "Opened Com Port:   COM4");
        }
        termios after{};
        ASSERT_EQ(tcgetattr(Port(2).slave, &after), 0);
        EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B115200)) << "the program's line was changed";
        EXPECT_NE(after.c_lflag & ICANON, 0u) << "the program's line was changed";

        CloseWindow();
        ports.clear();
        boxes.clear();
    }
}

TEST_F(ConnectionTest, ClosingWithAllThreadsRunningIsPrompt) {
    for (int n = 1; n <= TMainForm::portCount; ++n)
        Plug({n});
    OpenWindow();
    for (int slot = 0; slot < TMainForm::portCount; ++slot)
        ASSERT_TRUE(form->CommThread(slot).IsPortOpen()) << slot;
    // One thread announces the timer and waits for this (user-interface) thread, which does
    // not run its call before closing.
    Port(5).Send(header());
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (PendingUiCallCount() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_GT(PendingUiCallCount(), 0u);
    QElapsedTimer clock;
    clock.start();
    form->close();
    CloseWindow();
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(ConnectionTest, UnpluggedTimerIsFoundAgainWhenPluggedBackIn) {
    Plug({1, 3});
    OpenWindow();
    Port(3).Send(example::groupBytes);
    ASSERT_TRUE(WaitUntil([&] { return form->GroupCount() == 1; }));
    ASSERT_TRUE(form->PortChosen());

    ports.erase(3); // pulls the adapter: the other side closes and the link goes
    ASSERT_TRUE(WaitUntil([&] { return !form->PortChosen() && form->CommThread(0).IsPortOpen(); }));
    EXPECT_FALSE(form->CommThread(2).IsPortOpen());
    EXPECT_EQ(Panel(0), "Opened Com Port:   COM1");
    EXPECT_EQ(Panel(1), "");
    EXPECT_EQ(MemoLines(), example::reportLines); // nothing shown is lost

    Plug({3});
    ASSERT_TRUE(WaitUntil([&] { return form->CommThread(2).IsPortOpen(); }));
    Port(3).Send(example::groupBytes);
    ASSERT_TRUE(WaitUntil([&] { return form->GroupCount() == 2; }));
    EXPECT_TRUE(form->PortChosen());
    EXPECT_EQ(Panel(0), "Opened Com Port:   COM3");
    EXPECT_EQ(Collect(3, 1), Bytes{0xFA});
}

TEST_F(ConnectionTest, OnlyPortUnpluggedAgainAndAgainNeverAsks) {
    // The coach's adapter is the laptop's only port; it is pulled out and plugged back in
    // twice. Nothing asks, nothing ends, and every group is taken.
    Plug({3});
    OpenWindow();
    for (int round = 1; round <= 3; ++round) {
        if (round > 1) {
            ports.erase(3);
            ASSERT_TRUE(WaitUntil([&] { return !form->CommThread(2).IsPortOpen(); })) << round;
            EXPECT_FALSE(form->PortChosen());
            EXPECT_EQ(Panel(0), "Opened Com Port:  ");
            EXPECT_EQ(Panel(1), "");
            Plug({3});
            ASSERT_TRUE(WaitUntil([&] { return form->CommThread(2).IsPortOpen(); })) << round;
        }
        Port(3).Send(example::groupBytes);
        EXPECT_EQ(Collect(3, 1), Bytes{0xFA}) << round;
        EXPECT_EQ(form->GroupCount(), round);
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(application->Terminated());
}

} // namespace
} // namespace window
