// SPDX-License-Identifier: MIT
#include "Support.h"

#include <QPointer>

#include <atomic>
#include <optional>
#include <stdexcept>

using namespace support;

namespace {

struct StrToIntRow {
    std::string text;
    std::optional<std::int32_t> value; // nullopt: EConvertError
};

void PrintTo(const StrToIntRow& row, std::ostream* os) {
    *os << "'" << row.text << "'";
}

class StrToIntTest : public ::testing::TestWithParam<StrToIntRow> {};

TEST_P(StrToIntTest, ConvertsOrRaises) {
    const StrToIntRow& row = GetParam();
    if (row.value) {
        EXPECT_EQ(StrToInt(row.text), *row.value);
        return;
    }
    try {
        StrToInt(row.text);
        FAIL() << "no error for '" << row.text << "'";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message, "'" + row.text + "' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntTest,
    ::testing::Values(StrToIntRow{"9600", 9600}, StrToIntRow{"0", 0}, StrToIntRow{"-17", -17}, StrToIntRow{"+5", 5},
                      StrToIntRow{"  115200", 115200}, StrToIntRow{"2147483647", 2147483647},
                      StrToIntRow{"-2147483648", INT32_MIN}, StrToIntRow{"$1F", 31}, StrToIntRow{"0x10", 16},
                      StrToIntRow{"000000000000000000000000042", 42}, StrToIntRow{"", std::nullopt},
                      StrToIntRow{" ", std::nullopt}, StrToIntRow{"-", std::nullopt}, StrToIntRow{"$", std::nullopt},
                      StrToIntRow{"12a", std::nullopt}, StrToIntRow{"9600 ", std::nullopt},
                      StrToIntRow{"1 2", std::nullopt}, StrToIntRow{"2147483648", std::nullopt},
                      StrToIntRow{"-2147483649", std::nullopt}, StrToIntRow{"99999999999999999999", std::nullopt},
                      StrToIntRow{"0x", std::nullopt}, StrToIntRow{"1.5", std::nullopt},
                      StrToIntRow{"\xB9", std::nullopt}));

using ApplicationTest = FrameworkTest;

struct ShownRow {
    const char* name;
    std::function<void()> raise;
    std::string message;
};

void PrintTo(const ShownRow& row, std::ostream* os) {
    *os << row.name;
}

class ShowExceptionTest : public ApplicationTest, public ::testing::WithParamInterface<ShownRow> {};

TEST_P(ShowExceptionTest, ShowsMessageAndGoesOn) {
    CaptureMessageBoxes();
    app->Title = "Tavro";
    try {
        GetParam().raise();
    } catch (...) {
        app->HandleException();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, GetParam().message);
    EXPECT_EQ(boxes[0].caption, "Tavro");
    EXPECT_EQ(boxes[0].buttons, mbOK);
    EXPECT_EQ(boxes[0].icon, miError);
    EXPECT_FALSE(app->Terminated());
}

TEST_P(ShowExceptionTest, GuardedCallShowsMessageAndGoesOn) {
    CaptureMessageBoxes();
    CallGuarded(GetParam().raise);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, GetParam().message);
    EXPECT_EQ(boxes[0].icon, miError);
    EXPECT_FALSE(app->Terminated());
}

INSTANTIATE_TEST_SUITE_P(Errors, ShowExceptionTest,
                         ::testing::Values(ShownRow{"Convert", [] { StrToInt(""); }, "'' is not a valid integer value"},
                                           ShownRow{"FOpen", [] { throw EFOpenError("Cannot open file /x.txt"); },
                                                    "Cannot open file /x.txt"},
                                           ShownRow{"Printer", [] { throw EPrinter("Printer selected is not valid"); },
                                                    "Printer selected is not valid"},
                                           ShownRow{"Std", [] { throw std::runtime_error("disk full"); }, "disk full"},
                                           ShownRow{"Other", [] { throw 17; }, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplicationTest, ShowExceptionFromWorkerIsShownOnUiThread) {
    std::atomic<bool> shownOnUiThread{false};
    SetMessageBoxHook([&](const MessageBoxRequest& request) {
        shownOnUiThread = IsUiThread() && request.text == "late";
        return mrOk;
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        app->ShowException(std::make_exception_ptr(Exception("late")));
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(shownOnUiThread);
}

// Who ends the loop, and when.
enum class Ender { BeforeLoop, FromWorker, InsideModalBox };

void PrintTo(Ender ender, std::ostream* os) {
    *os << (ender == Ender::BeforeLoop ? "BeforeLoop" : ender == Ender::FromWorker ? "FromWorker" : "InsideModalBox");
}

class TerminateTest : public ApplicationTest, public ::testing::WithParamInterface<Ender> {};

TEST_P(TerminateTest, EndsTheLoop) {
    QObject scope; // no timer of this test may fire in a later one
    std::thread worker;
    int boxResult = -1;
    switch (GetParam()) {
    case Ender::BeforeLoop:
        app->Terminate();
        break;
    case Ender::FromWorker:
        QTimer::singleShot(0, &scope, [&] { worker = std::thread([this] { app->Terminate(); }); });
        break;
    case Ender::InsideModalBox:
        QTimer::singleShot(0, &scope, [&] {
            QTimer::singleShot(0, &scope, [this] { app->Terminate(); });
            boxResult = MessageBox(nullptr, "Waiting", "Test", mbOKCancel, miQuestion);
        });
        break;
    }
    // A safety net that fails the test instead of hanging it.
    bool rescued = false;
    QTimer::singleShot(patienceMs, &scope, [&] {
        rescued = true;
        QCoreApplication::exit(1);
    });
    EXPECT_LT(TimeOf([&] { app->Run(); }), prompt);
    if (worker.joinable())
        worker.join();
    EXPECT_FALSE(rescued);
    EXPECT_TRUE(app->Terminated());
    if (GetParam() == Ender::InsideModalBox) {
        ASSERT_TRUE(WaitUntil([&] { return boxResult != -1; }));
        EXPECT_EQ(boxResult, mrCancel);
    }
}

INSTANTIATE_TEST_SUITE_P(Enders, TerminateTest,
                         ::testing::Values(Ender::BeforeLoop, Ender::FromWorker, Ender::InsideModalBox));

struct EntryRow {
    const char* name;
    // Builds the main window (or fails); may arrange how the loop ends.
    std::function<std::unique_ptr<QWidget>(QPointer<QWidget>& made)> create;
    std::vector<std::string> shown;
    bool windowShown;
};

void PrintTo(const EntryRow& row, std::ostream* os) {
    *os << row.name;
}

class RunApplicationTest : public ApplicationTest, public ::testing::WithParamInterface<EntryRow> {};

TEST_P(RunApplicationTest, ShowsErrorsAndReturnsZero) {
    CaptureMessageBoxes();
    QPointer<QWidget> made;
    bool wasShown = false;
    static int argc = 1;
    const int result = RunApplication(argc, nullptr, [&]() {
        auto window = GetParam().create(made);
        if (window)
            QTimer::singleShot(0, window.get(), [&wasShown, w = window.get()] {
                wasShown = w->isVisible();
                w->close();
            });
        return window;
    });
    EXPECT_EQ(result, 0);
    std::vector<std::string> texts;
    for (const auto& box : boxes)
        texts.push_back(box.text);
    EXPECT_EQ(texts, GetParam().shown);
    EXPECT_TRUE(made.isNull()) << "the main window outlived the entry";
    EXPECT_EQ(wasShown, GetParam().windowShown);
}

INSTANTIATE_TEST_SUITE_P(Entries, RunApplicationTest,
                         ::testing::Values(EntryRow{"ClosedByUser",
                                                    [](QPointer<QWidget>& made) {
                                                        auto w = std::make_unique<QWidget>();
                                                        made = w.get();
                                                        return w;
                                                    },
                                                    {},
                                                    true},
                                           EntryRow{"CreationFails",
                                                    [](QPointer<QWidget>&) -> std::unique_ptr<QWidget> {
                                                        throw EFOpenError("no form");
                                                    },
                                                    {"no form"},
                                                    false},
                                           EntryRow{"CreationFailsStrangely",
                                                    [](QPointer<QWidget>&) -> std::unique_ptr<QWidget> { throw 5; },
                                                    {""},
                                                    false},
                                           EntryRow{"TerminatedWhileCreating",
                                                    [](QPointer<QWidget>& made) {
                                                        auto w = std::make_unique<QWidget>();
                                                        made = w.get();
                                                        Application->Terminate();
                                                        return w;
                                                    },
                                                    {},
                                                    false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
