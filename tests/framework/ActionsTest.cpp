// SPDX-License-Identifier: MIT
#include "Actions.h"
#include "Support.h"

#include <optional>
#include <stdexcept>
#include <thread>

using namespace support;

namespace {

using ActionsTest = FrameworkTest;

TEST_F(ActionsTest, UpdateAllRunsTheHandlers) {
    TActionList list;
    int updates = 0;
    bool open = false; // stands for the state an update handler follows
    TAction* connect = list.Add("actConnect");
    connect->OnUpdate = [&](TAction& action) {
        ++updates;
        action.setEnabled(!open);
    };
    TAction* plain = list.Add("actFileOpen");

    list.UpdateAll();
    EXPECT_EQ(updates, 1);
    EXPECT_TRUE(connect->isEnabled());
    open = true;
    list.UpdateAll();
    EXPECT_FALSE(connect->isEnabled());
    EXPECT_TRUE(plain->isEnabled()) << "an action without update handler stays enabled";
    EXPECT_EQ(list.Actions(), (std::vector<TAction*>{connect, plain}));
}

// The events after which the handlers follow the state by themselves: each row changes the
// state in its own way, and there is no timer, so only the event can bring the round.
struct FollowRow {
    const char* name;
    std::function<void(bool& state, TAction& command, QWidget& input)> change;
};

void PrintTo(const FollowRow& row, std::ostream* os) {
    *os << row.name;
}

class FollowTest : public ActionsTest, public ::testing::WithParamInterface<FollowRow> {};

TEST_P(FollowTest, UpdateFollowsWithoutUpdateAll) {
    CaptureMessageBoxes();
    TActionList list;
    bool state = false;
    TAction* watched = list.Add("actClear");
    watched->OnUpdate = [&](TAction& action) { action.setEnabled(state); };
    TAction* command = list.Add("actFileOpen");
    QWidget input;
    list.UpdateAll();
    ASSERT_FALSE(watched->isEnabled());

    GetParam().change(state, *command, input);
    EXPECT_TRUE(WaitUntil([&] { return watched->isEnabled(); }));
}

INSTANTIATE_TEST_SUITE_P(Events, FollowTest,
                         ::testing::Values(FollowRow{"Command",
                                                     [](bool& state, TAction& command, QWidget&) {
                                                         command.OnExecute = [&state] { state = true; };
                                                         command.trigger();
                                                     }},
                                           FollowRow{"FailedCommand",
                                                     [](bool& state, TAction& command, QWidget&) {
                                                         command.OnExecute = [&state] {
                                                             state = true;
                                                             throw Exception("half done");
                                                         };
                                                         command.trigger();
                                                     }},
                                           FollowRow{"CallFromThread",
                                                     [](bool& state, TAction&, QWidget&) {
                                                         std::thread([&state] {
                                                             try {
                                                                 RunOnUiThread([&state] { state = true; });
                                                             } catch (...) {
                                                             }
                                                         }).detach();
                                                     }},
                                           FollowRow{"MessageBoxClosed",
                                                     [](bool& state, TAction&, QWidget&) {
                                                         state = true;
                                                         MessageBox(nullptr, "Error closing comm port.", "Tavro", mbOK,
                                                                    miNone, mrOk);
                                                     }},
                                           FollowRow{"KeyPressed",
                                                     [](bool& state, TAction&, QWidget& input) {
                                                         state = true;
                                                         QTest::keyClick(&input, Qt::Key_A);
                                                     }},
                                           FollowRow{"Requested",
                                                     [](bool& state, TAction&, QWidget&) {
                                                         state = true;
                                                         RequestActionUpdates();
                                                     }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ActionsTest, NoRoundWhileNothingHappensAndRequestsAreOneRound) {
    TActionList list;
    int updates = 0;
    list.Add("actStatusBar1")->OnUpdate = [&](TAction&) { ++updates; };
    list.UpdateAll();
    const int settled = updates;
    // An idle program must not wake up for its actions: no round in the time a polling timer
    // would have run several.
    QTest::qWait(300);
    EXPECT_EQ(updates, settled);

    for (int i = 0; i < 5; ++i)
        RequestActionUpdates();
    ASSERT_TRUE(WaitUntil([&] { return updates > settled; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(updates, settled + 1);

    // Nor does a round bring another one later: without events the list stays asleep.
    QTest::qWait(300);
    EXPECT_EQ(updates, settled + 1);
}

struct ExecuteRow {
    const char* name;
    std::function<void()> handler;
    std::vector<std::string> shown;
};

void PrintTo(const ExecuteRow& row, std::ostream* os) {
    *os << row.name;
}

class ExecuteTest : public ActionsTest, public ::testing::WithParamInterface<ExecuteRow> {};

TEST_P(ExecuteTest, ErrorsReachApplicationHandler) {
    CaptureMessageBoxes();
    TActionList list;
    TAction* action = list.Add("actFileOpen");
    action->OnExecute = GetParam().handler;
    action->trigger();
    action->setEnabled(false);
    action->trigger(); // a disabled action does not run
    std::vector<std::string> texts;
    for (const auto& box : boxes)
        texts.push_back(box.text);
    EXPECT_EQ(texts, GetParam().shown);
    EXPECT_FALSE(app->Terminated()) << "the program goes on";
}

INSTANTIATE_TEST_SUITE_P(Handlers, ExecuteTest,
                         ::testing::Values(ExecuteRow{"Succeeds", [] {}, {}},
                                           ExecuteRow{"Ours",
                                                      [] { throw EFCreateError("Cannot create file /r/o.txt"); },
                                                      {"Cannot create file /r/o.txt"}},
                                           ExecuteRow{"Std", [] { throw std::bad_alloc(); }, {"std::bad_alloc"}},
                                           ExecuteRow{"Other", [] { throw 'x'; }, {""}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct UpdateFailureRow {
    const char* name;
    std::vector<std::optional<std::string>> rounds; // what the handler throws in each round; nullopt: succeeds
    std::vector<std::string> shown;
};

void PrintTo(const UpdateFailureRow& row, std::ostream* os) {
    *os << row.name;
}

class UpdateFailureTest : public ActionsTest, public ::testing::WithParamInterface<UpdateFailureRow> {};

TEST_P(UpdateFailureTest, ShownOncePerDistinctFailure) {
    CaptureMessageBoxes();
    TActionList list;
    std::size_t round = 0;
    list.Add("actStatusBar1")->OnUpdate = [&](TAction&) {
        const auto& failure = GetParam().rounds.at(round);
        if (failure)
            throw Exception(*failure);
    };
    for (round = 0; round < GetParam().rounds.size(); ++round)
        list.UpdateAll();
    std::vector<std::string> texts;
    for (const auto& box : boxes)
        texts.push_back(box.text);
    EXPECT_EQ(texts, GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Sequences, UpdateFailureTest,
                         ::testing::Values(UpdateFailureRow{"Repeated", {"a", "a", "a", "a"}, {"a"}},
                                           UpdateFailureRow{"Changing", {"a", "b", "b", "a"}, {"a", "b", "a"}},
                                           UpdateFailureRow{"Recovered", {"a", std::nullopt, "a"}, {"a", "a"}},
                                           UpdateFailureRow{"Healthy", {std::nullopt, std::nullopt}, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ActionsTest, NoUpdateRoundInsideAFailureBox) {
    TActionList list;
    int calls = 0;
    list.Add("actClear")->OnUpdate = [&](TAction&) {
        ++calls;
        throw Exception("broken");
    };
    // The error box's event loop would fire the idle timer; here the box itself asks.
    SetMessageBoxHook([&](const MessageBoxRequest&) {
        list.UpdateAll();
        return mrOk;
    });
    list.UpdateAll();
    EXPECT_EQ(calls, 1);
}

} // namespace
