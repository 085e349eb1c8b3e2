// SPDX-License-Identifier: MIT
// The receiver thread against a pseudo-terminal timer and a recording window.
#include "CommThread.h"
#include "Application.h"
#include "Dialogs.h"
#include "PseudoTerminal.h"
#include "QtTestSupport.h"
#include "UiThread.h"
#include "WorkedExample.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <random>
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

// What a receiver did with one byte session, everything the timer and the window can see.
struct SessionOutcome {
    Bytes replies;
    std::vector<std::string> groups;
    std::size_t announcements = 0;
    Bytes journalled;
    std::vector<std::string> journalEvents;

    bool operator==(const SessionOutcome&) const = default;
};

// One thing the timer does: send `bytes` in pieces of `piece` bytes `gapMs` apart, then, when
// they end groups, wait for the answers as the timer does before it sends the next group.
struct SessionStep {
    Bytes bytes;
    std::size_t piece;
    int gapMs;
    std::size_t replies;
};

// A stalled line catching up: the decoder completes one group per pass, the later ones on
// passes that read nothing.
SessionStep ThreeGroupsAtOnce() {
    Bytes three = emptyGroup();
    for (int i = 0; i < 2; ++i)
        three.insert(three.end(), example::groupBytes.begin(), example::groupBytes.end());
    return {three, three.size(), 0, 3};
}

// Sessions of groups (good, refused, the worked example with records), line noise, a group
// that stalls after its header, and pauses, in a different mix per seed.
std::vector<SessionStep> MakeSession(unsigned seed) {
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    std::vector<SessionStep> steps;
    for (int i = 0; i < 6; ++i) {
        const auto piece = static_cast<std::size_t>(pick(1, 48));
        // Gaps shorter and longer than a poll, a whole group taking at most about 300 ms.
        const int gap = pick(0, 3) == 0 ? pick(110, 300) / static_cast<int>((40 + piece - 1) / piece)
                                        : pick(0, 60 / static_cast<int>((40 + piece - 1) / piece));
        switch (pick(0, 5)) {
        case 0:
            steps.push_back({example::groupBytes, piece, gap, 1});
            break;
        case 1:
            steps.push_back({example::badCheckBytes(), piece, gap, 1});
            break;
        case 2:
            steps.push_back({emptyGroup(), piece, gap, 1});
            break;
        case 3: {
            steps.push_back(ThreeGroupsAtOnce());
            break;
        }
        case 4: {
            Bytes noise(static_cast<std::size_t>(pick(1, 30)));
            for (auto& byte : noise)
                byte = static_cast<unsigned char>(pick(0, 0x7F)); // never 0xAB: no unit starts
            steps.push_back({noise, piece, gap, 0});
            break;
        }
        default:
            // The group stalls after its header for longer than a few polls.
            steps.push_back({header, 8, 350, 0});
            steps.push_back({Bytes(example::groupBytes.begin() + 8, example::groupBytes.end()), piece, 0, 1});
            break;
        }
    }
    return steps;
}

class IdleWaitTest : public CommThreadTest {
protected:
    SessionOutcome Play(const std::vector<SessionStep>& steps, bool waitWhenIdle) {
        PseudoTerminal port(dir.path, 1);
        RecordingJournal journal;
        host = RecordingHost();
        thread = std::make_unique<TCommThread>(host, "COM1", 9600, &journal);
        thread->SetWaitWhenIdle(waitWhenIdle);
        thread->StartComm();
        SessionOutcome outcome;
        for (const SessionStep& step : steps) {
            for (std::size_t at = 0; at < step.bytes.size(); at += step.piece) {
                const auto end =
                    step.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at + step.piece, step.bytes.size()));
                port.Send(Bytes(step.bytes.begin() + static_cast<std::ptrdiff_t>(at), end));
                QTest::qWait(step.gapMs);
            }
            if (step.replies > 0) {
                const Bytes reply = Collect(port, step.replies, 3000);
                outcome.replies.insert(outcome.replies.end(), reply.begin(), reply.end());
            }
        }
        // Anything late (a second reply that must not come) has time to show.
        QTest::qWait(150);
        const Bytes late = port.Receive(16, 0ms);
        outcome.replies.insert(outcome.replies.end(), late.begin(), late.end());
        thread.reset();
        outcome.groups = host.groups;
        outcome.announcements = host.selected.size();
        outcome.journalled = journal.read;
        outcome.journalEvents = journal.events;
        return outcome;
    }
};

// Waiting on the port instead of the clock changes when a pass runs, never what it does: the
// timer hears the same answers in the same order, the window gets the same groups, the
// journal the same bytes and the same keeps.
TEST_F(IdleWaitTest, SameSessionsGiveTheSameOutcomeWhetherPolledOrWaiting) {
    for (const unsigned seed : {0u, 1u, 2u, 3u}) {
        const auto steps = seed == 0 ? std::vector<SessionStep>{ThreeGroupsAtOnce()} : MakeSession(seed);
        const SessionOutcome polled = Play(steps, false);
        const SessionOutcome waited = Play(steps, true);
        std::size_t replies = 0;
        for (const SessionStep& step : steps)
            replies += step.replies;
        EXPECT_EQ(polled.replies.size(), replies) << "seed " << seed;
        EXPECT_EQ(polled.announcements, 1u) << "seed " << seed;
        EXPECT_EQ(waited, polled) << "seed " << seed;
    }
}

// A thread asleep on its silent port is woken by everything the old clock would have met.
class IdleWakeTest;
struct WakeRow {
    const char* name;
    std::function<void(IdleWakeTest&, PseudoTerminal&)> act;
    std::function<bool(IdleWakeTest&)> done;
};

void PrintTo(const WakeRow& row, std::ostream* os) {
    *os << row.name;
}

class IdleWakeTest : public CommThreadTest, public ::testing::WithParamInterface<WakeRow> {
public:
    TCommThread& Thread() { return *thread; }
    RecordingHost& Host() { return host; }
};

TEST_P(IdleWakeTest, WaitingThreadAnswersPromptly) {
    auto port = std::make_unique<PseudoTerminal>(dir.path, 1);
    Start(1);
    ASSERT_TRUE(thread->IsPortOpen());
    QTest::qWait(300); // past the first passes: asleep on the port now
    QElapsedTimer clock;
    clock.start();
    GetParam().act(*this, *port);
    EXPECT_TRUE(WaitUntil([&] { return GetParam().done(*this); }, 2000));
    EXPECT_LT(clock.elapsed(), 150);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IdleWakeTest,
    ::testing::Values(WakeRow{"Pause", [](IdleWakeTest& t, PseudoTerminal&) { t.Thread().StopComm(); },
                              [](IdleWakeTest& t) { return t.Thread().Suspended(); }},
                      WakeRow{"Terminate", [](IdleWakeTest& t, PseudoTerminal&) { t.Thread().Terminate(); },
                              [](IdleWakeTest& t) { return t.Thread().Finished(); }},
                      WakeRow{"HangUp", [](IdleWakeTest&, PseudoTerminal& port) { port.Unplug(); },
                              [](IdleWakeTest& t) { return t.Host().failed.size() == 1; }},
                      WakeRow{"Bytes", [](IdleWakeTest&, PseudoTerminal& port) { port.Send(header); },
                              [](IdleWakeTest& t) { return t.Host().selected.size() == 1; }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
