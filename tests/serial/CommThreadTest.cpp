// SPDX-License-Identifier: MIT
// The receiver thread against a pseudo-terminal timer and a recording window.
#include "CommThread.h"
#include "Application.h"
#include "Dialogs.h"
#include "PseudoTerminal.h"
#include "QtTestSupport.h"
#include "UiThread.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>

namespace {

using Bytes = std::vector<unsigned char>;
using namespace std::chrono_literals;

constexpr int patienceMs = 10000;

const Bytes header{0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA};
// A group without records: header, then an end record with check value 0.
Bytes emptyGroup(bool badCheck = false) {
    Bytes g = header;
    g.insert(g.end(), {0xAB, 0x0F, 0xF0, 0x00, 0x00, 0x00, 0x00, static_cast<unsigned char>(badCheck ? 1 : 0)});
    return g;
}

// Plays the main window: records every call a thread makes on the user-interface thread.
class RecordingHost : public TCommThreadHost {
public:
    void SelectPort(TCommThread* thread) override { selected.push_back(thread); }
    void ReceiveGroupText(const std::vector<unsigned char>& text) override {
        if (failShowing)
            throw std::runtime_error("The view could not take the group");
        groups.emplace_back(text.begin(), text.end());
        if (onGroup)
            onGroup();
    }
    void PortFailed(TCommThread* thread) override {
        failed.push_back(thread);
        thread->StopComm();
    }

    std::vector<TCommThread*> selected;
    std::vector<std::string> groups;
    std::vector<TCommThread*> failed;
    std::function<void()> onGroup;
    bool failShowing = false;
};

// Plays the journal: records what it is asked to keep, and whether the timer had already heard
// a reply at that moment (it must not have: durable before confirmed).
class RecordingJournal : public TCommThreadJournal {
public:
    void BytesRead(const std::vector<unsigned char>& bytes) override {
        read.insert(read.end(), bytes.begin(), bytes.end());
    }
    void KeepGroup(const std::vector<unsigned char>& text) override {
        Event("keep " + std::string(text.begin(), text.end()));
    }
    void BeforeConfirm() override { Event("confirm"); }

    void Event(const std::string& what) {
        const bool replied = timerSide && !timerSide->Receive(1, 0ms).empty();
        events.push_back(what + (replied ? " after the reply" : ""));
    }

    const PseudoTerminal* timerSide = nullptr;
    Bytes read;
    std::vector<std::string> events;
};

class CommThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        application = MakeTestApplication();
        SetMessageBoxHook([this](const MessageBoxRequest& request) {
            boxes.push_back(request.text);
            return mrOk;
        });
    }
    void TearDown() override {
        thread.reset();
        SetMessageBoxHook({});
        application.reset();
    }
    bool WaitUntil(const std::function<bool()>& ready, int timeoutMs = patienceMs) {
        return QTest::qWaitFor(ready, timeoutMs);
    }
    Bytes Collect(PseudoTerminal& port, std::size_t count, int timeoutMs = patienceMs) {
        return CollectFrom(port, count, timeoutMs);
    }
    void Start(int number, TCommThreadJournal* journal = nullptr) {
        thread = std::make_unique<TCommThread>(host, "COM" + std::to_string(number), 9600, journal);
        thread->StartComm();
    }

    TestPortDir dir;
    std::unique_ptr<TApplication> application;
    RecordingHost host;
    std::unique_ptr<TCommThread> thread;
    std::vector<std::string> boxes;
};

TEST_F(CommThreadTest, PortThatCannotOpenLeavesThreadPaused) {
    Start(4);
    EXPECT_FALSE(thread->IsPortOpen());
    EXPECT_TRUE(thread->Suspended());
    EXPECT_TRUE(boxes.empty());
    // Once the port exists, starting again works.
    PseudoTerminal port(dir.path, 4);
    thread->StartComm();
    EXPECT_TRUE(thread->IsPortOpen());
    EXPECT_FALSE(thread->Suspended());
}

TEST_F(CommThreadTest, AnnouncesOncePerStart) {
    PseudoTerminal port(dir.path, 2);
    Start(2);
    port.Send(emptyGroup());
    ASSERT_TRUE(WaitUntil([&] { return host.groups.size() == 1; }));
    port.Send(emptyGroup());
    ASSERT_TRUE(WaitUntil([&] { return host.groups.size() == 2; }));
    EXPECT_EQ(host.selected, std::vector<TCommThread*>{thread.get()});
    EXPECT_TRUE(thread->IsDeviceRecognised());

    thread->StopComm();
    EXPECT_FALSE(thread->IsDeviceRecognised());
    EXPECT_FALSE(thread->IsPortOpen());
    thread->StartComm();
    port.Send(header);
    ASSERT_TRUE(WaitUntil([&] { return host.selected.size() == 2; }));
}

TEST_F(CommThreadTest, RepliesAfterTheGroupWasHandedOver) {
    PseudoTerminal port(dir.path, 1);
    Start(1);
    std::size_t pendingWhenShown = 99;
    host.onGroup = [&] { pendingWhenShown = port.Receive(1, 0ms).size(); };
    port.Send(emptyGroup());
    EXPECT_EQ(Collect(port, 1), Bytes{0xFA});
    EXPECT_EQ(pendingWhenShown, 0u);
    port.Send(emptyGroup(true));
    EXPECT_EQ(Collect(port, 1), Bytes{0xF0});
    EXPECT_EQ(host.groups.size(), 1u);
    // One byte per ended group, nothing on quiet polls.
    EXPECT_TRUE(Collect(port, 1, 400).empty());
}

TEST_F(CommThreadTest, GroupIsKeptBeforeItIsConfirmed) {
    PseudoTerminal port(dir.path, 1);
    RecordingJournal journal;
    journal.timerSide = &port;
    Start(1, &journal);
    host.onGroup = [&] { journal.Event("shown"); };
    port.Send(emptyGroup());
    EXPECT_EQ(Collect(port, 1), Bytes{0xFA});
    ASSERT_EQ(host.groups.size(), 1u);
    EXPECT_EQ(journal.events, (std::vector<std::string>{"shown", "keep " + host.groups[0], "confirm"}));
    // A refused group is neither kept nor confirmed; every byte read is handed over in order.
    port.Send(emptyGroup(true));
    EXPECT_EQ(Collect(port, 1), Bytes{0xF0});
    EXPECT_EQ(journal.events.size(), 3u);
    Bytes sent = emptyGroup();
    const Bytes refused = emptyGroup(true);
    sent.insert(sent.end(), refused.begin(), refused.end());
    EXPECT_EQ(journal.read, sent);
}

TEST_F(CommThreadTest, ReplyOfAGroupShownBeforeARestartIsNotWritten) {
    PseudoTerminal port(dir.path, 1);
    RecordingJournal journal;
    Start(1, &journal);
    // The window stops and starts the slot while the group is being shown (as a disconnect
    // and connect, or the settings command, would): the reply belonged to the port as it was.
    host.onGroup = [&] {
        host.onGroup = nullptr;
        thread->StopComm();
        thread->StartComm();
    };
    port.Send(emptyGroup());
    ASSERT_TRUE(WaitUntil([&] { return host.groups.size() == 1; }));
    EXPECT_TRUE(Collect(port, 1, 400).empty());
    EXPECT_TRUE(journal.events.empty());
    // The timer sends it again, and the new start answers as usual.
    port.Send(emptyGroup());
    EXPECT_EQ(Collect(port, 1), Bytes{0xFA});
}

TEST_F(CommThreadTest, GroupThatCannotBeShownIsNotConfirmed) {
    PseudoTerminal port(dir.path, 1);
    Start(1);
    port.Send(header);
    ASSERT_TRUE(WaitUntil([&] { return host.selected.size() == 1; }));
    application->Terminate();
    port.Send(emptyGroup());
    // The thread polls on; the group is neither shown nor answered, so the timer keeps it.
    EXPECT_TRUE(Collect(port, 1, 600).empty());
    EXPECT_TRUE(host.groups.empty());
}

TEST_F(CommThreadTest, ApplySettingsRestartsOnTheNewPort) {
    PseudoTerminal com2(dir.path, 2);
    Start(1); // no COM1: paused
    ASSERT_FALSE(thread->IsPortOpen());
    thread->ApplySettings(19200, "COM2");
    EXPECT_TRUE(thread->IsPortOpen());
    EXPECT_EQ(thread->GetPort().GetPortName(), "COM2");
    EXPECT_EQ(thread->GetPort().GetBaudRate(), 19200);
    com2.Send(emptyGroup());
    EXPECT_EQ(Collect(com2, 1), Bytes{0xFA});
}

TEST_F(CommThreadTest, UnpluggedPortIsReportedAndLetGo) {
    auto port = std::make_unique<PseudoTerminal>(dir.path, 3);
    Start(3);
    port->Send(header);
    ASSERT_TRUE(WaitUntil([&] { return host.selected.size() == 1; }));
    port.reset();
    ASSERT_TRUE(WaitUntil([&] { return host.failed.size() == 1; }));
    EXPECT_EQ(host.failed[0], thread.get());
    EXPECT_FALSE(thread->IsPortOpen());
    EXPECT_FALSE(thread->IsDeviceRecognised());
    // Plugged back in, the same thread takes it up again.
    port = std::make_unique<PseudoTerminal>(dir.path, 3);
    thread->StartComm();
    port->Send(emptyGroup());
    EXPECT_EQ(Collect(*port, 1), Bytes{0xFA});
    EXPECT_EQ(host.failed.size(), 1u);
}

TEST_F(CommThreadTest, OtherErrorsAreShownOnceAndThePortLetGo) {
    PseudoTerminal port(dir.path, 3);
    Start(3);
    host.failShowing = true;
    for (std::size_t round = 1; round <= 2; ++round) {
        port.Send(emptyGroup());
        ASSERT_TRUE(WaitUntil([&] { return host.failed.size() == round; })) << round;
        EXPECT_FALSE(thread->IsPortOpen());
        thread->StartComm(); // listening goes on
    }
    // Shown once, posted (the thread did not wait for it), and nothing confirmed.
    ASSERT_TRUE(WaitUntil([&] { return !boxes.empty(); }));
    EXPECT_EQ(boxes, std::vector<std::string>{"The view could not take the group"});
    EXPECT_TRUE(Collect(port, 1, 300).empty());
    host.failShowing = false;
    port.Send(emptyGroup());
    EXPECT_EQ(Collect(port, 1), Bytes{0xFA});
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(CommThreadTest, DestroyingIsPromptInEveryState) {
    PseudoTerminal port(dir.path, 1);
    for (const char* state : {"created", "running", "paused", "in a window call"}) {
        thread = std::make_unique<TCommThread>(host, "COM1", 9600);
        const std::string s = state;
        if (s != "created")
            thread->StartComm();
        if (s == "paused")
            thread->StopComm();
        if (s == "in a window call") {
            port.Send(header);
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            while (PendingUiCallCount() == 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            ASSERT_GT(PendingUiCallCount(), 0u);
            application->Terminate();
        }
        const auto start = std::chrono::steady_clock::now();
        thread.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << state;
    }
}

} // namespace
