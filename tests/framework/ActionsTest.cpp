// SPDX-License-Identifier: MIT
#include "Actions.h"
#include "Support.h"

#include <optional>
#include <stdexcept>

using namespace support;

namespace {

using ActionsTest = FrameworkTest;

TEST_F(ActionsTest, UpdateHandlersRunWhileIdleAndOnUpdateAll) {
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
    EXPECT_TRUE(WaitUntil([&] { return !connect->isEnabled(); })) << "no idle-time update ran";
    EXPECT_GE(updates, 2);
    EXPECT_TRUE(plain->isEnabled()) << "an action without update handler stays enabled";
    EXPECT_EQ(list.Actions(), (std::vector<TAction*>{connect, plain}));
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
