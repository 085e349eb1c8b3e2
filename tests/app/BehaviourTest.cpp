// SPDX-License-Identifier: MIT
// The window's behaviour without a window: a fake view records what it is asked to draw, and
// pseudo-terminal ports play the timer.
#include "Application.h"
#include "Exceptions.h"
#include "MainFormBehaviour.h"
#include "PrintLayout.h"
#include "PseudoTerminal.h"
#include "TextRules.h"
#include "UiThread.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<unsigned char>;

// Long work that is cancelled at its `cancelAt`th step (0: never).
class FakeWork : public TViewWork {
public:
    FakeWork(int cancelAt, std::vector<std::string>& texts) : texts(texts), cancelAt(cancelAt) {}
    bool Step(int) override { return cancelAt == 0 || ++steps < cancelAt; }
    void SetMaximum(int) override {}
    void SetText(const std::string& text) override { texts.push_back(text); }

    std::vector<std::string>& texts;

private:
    int cancelAt;
    int steps = 0;
};

// Records where each line is drawn: its page, its number and its rectangle.
struct Drawn {
    int page, line;
    TPrintRect rect;
};

class FakePrintJob : public TViewPrintJob {
public:
    FakePrintJob(std::vector<Drawn>& drawn, int pageHeight) : drawn(drawn), pageHeight(pageHeight) {}
    int PageWidth() const override { return 800; }
    int PageHeight() const override { return pageHeight; }
    int LineHeight() const override { return 200; }
    void NewPage() override { ++page; }
    void DrawLine(int line, const TPrintRect& rect) override { drawn.push_back({page, line, rect}); }

private:
    std::vector<Drawn>& drawn;
    int pageHeight;
    int page = 1;
};

class FakeView : public TMainFormView {
public:
    void AppendLines(const std::vector<std::string>& more) override {
        if (lines.empty() && !more.empty())
            finalLineEnd = true;
        lines.insert(lines.end(), more.begin(), more.end());
    }
    void ClearText() override {
        lines.clear();
        finalLineEnd = false;
    }
    int LineCount() const override { return static_cast<int>(lines.size()); }
    void SetCounterText(const std::string& text) override { counter = text; }
    TViewAnswer ShowMessage(const TViewMessage& message) override {
        messages.push_back(message);
        if (onMessage)
            onMessage();
        if (answers.empty())
            return TViewAnswer::ok;
        const TViewAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<TPortSettings> AskPortSettings(const std::string& portName, std::int32_t baudRate) override {
        asked = {portName, baudRate};
        return settings;
    }
    std::optional<std::string> ChooseFile(TFileDialog) override { return chosenFile; }
    std::unique_ptr<TViewWork> BeginLongWork(const std::string& text, int) override {
        workTexts.push_back(text);
        return std::make_unique<FakeWork>(cancelAt, workTexts);
    }
    bool WalkLines(int count, TViewWork& work, int, const std::function<void(const std::string&)>& take) override {
        for (int i = 0; i < count; ++i)
            take(lines[static_cast<std::size_t>(i)]);
        return work.Step(count);
    }
    bool EndsWithLineEnd() const override { return finalLineEnd; }
    void ReplaceText(std::string text, int oldLines, bool, TViewWork&, int) override {
        std::vector<std::string> arrived(lines.begin() + oldLines, lines.end());
        lines = SplitLines(text.data(), text.size());
        finalLineEnd = !text.empty() && (text.back() == '\r' || text.back() == '\n');
        AppendLines(arrived);
    }
    TWriteResult WriteFileReplacing(const std::string& name, const std::string& bytes, TViewWork&, int) override {
        if (writeResult == TWriteResult::written)
            written[name] = bytes;
        return writeResult;
    }
    std::unique_ptr<TViewPrintJob> BeginPrint() override {
        if (!printer)
            return nullptr;
        return std::make_unique<FakePrintJob>(drawn, *printer);
    }
    void PostToWindow(std::function<void()> call) override {
        const std::lock_guard lock(mutex);
        posted.push_back(std::move(call));
    }
    void Terminate() override { terminated = true; }
    bool Terminating() const override { return terminated; }
    std::size_t PostedCount() {
        const std::lock_guard lock(mutex);
        return posted.size();
    }

    std::vector<std::string> lines;
    bool finalLineEnd = false;
    std::string counter;
    std::vector<TViewMessage> messages;
    std::deque<TViewAnswer> answers;
    std::function<void()> onMessage;
    std::optional<TPortSettings> settings;
    TPortSettings asked;
    std::optional<std::string> chosenFile;
    std::vector<std::string> workTexts;
    int cancelAt = 0;
    TWriteResult writeResult = TWriteResult::written;
    std::map<std::string, std::string> written;
    std::optional<int> printer; // its page height; nullopt: the print dialog is cancelled
    std::vector<Drawn> drawn;
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    bool terminated = false;
};

// The user-interface thread that the receiver threads call (the harness's; the behaviour needs
// no more of the framework than that).
std::unique_ptr<TApplication> MakeApplication() {
    static int argc = 1;
    static char name[] = "behaviour-tests";
    static char* argv[] = {name, nullptr};
    return std::make_unique<TApplication>(argc, argv);
}

class BehaviourTest : public ::testing::Test {
protected:
    void Plug(int n) { ports[n] = std::make_unique<PseudoTerminal>(dir.path, n); }
    void Start(const std::string& journal = {}) {
        behaviour = std::make_unique<TMainFormBehaviour>(view, journal.empty() ? (data.path / "j").string() : journal);
        behaviour->Start();
    }
    void Receive(const std::string& block) { behaviour->ReceiveGroupText(Bytes(block.begin(), block.end())); }
    // Runs the receivers' calls to this thread until `ready` holds. It is looked at again every
    // few milliseconds, as what makes it true (a reply on the line) wakes nothing here.
    static bool RunUntil(const std::function<bool()>& ready) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!WaitOnUiThreadUntil(ready, std::chrono::steady_clock::now() + 10ms))
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        return true;
    }
    std::string Pts(int n) { return std::filesystem::read_symlink(ports.at(n)->link).string(); }

    std::unique_ptr<TApplication> application = MakeApplication();
    TestPortDir dir;
    TempDir data;
    std::map<int, std::unique_ptr<PseudoTerminal>> ports;
    FakeView view;
    std::unique_ptr<TMainFormBehaviour> behaviour;
};

TEST_F(BehaviourTest, GroupsBecomeLinesAndAreCounted) {
    const std::string big(400000, 'x');
    const struct Row {
        std::vector<std::string> blocks;
        std::vector<std::string> lines;
    } rows[] = {
        {{"a\rb\r"}, {"a", "b"}},
        {{"a\r\r", "b\nc"}, {"a", "", "b", "c"}},
        {{std::string("ab\0cd\r", 6)}, {"ab"}},
        {{"", "\xE9\t\xA0\r\n"}, {"\xE9\t\xA0"}},
        {{big + "\r"}, {big.substr(0, TMainFormBehaviour::keptBlockBytes - 1)}},
        {{std::string(TMainFormBehaviour::displayedBlockLimit, 'y')},
         {std::string(TMainFormBehaviour::displayedBlockLimit, 'y')}},
    };
    Plug(1);
    Start();
    int count = 0;
    for (const Row& row : rows) {
        view.lines.clear();
        for (const std::string& block : row.blocks)
            Receive(block);
        count += static_cast<int>(row.blocks.size());
        EXPECT_EQ(view.lines, row.lines);
        EXPECT_EQ(view.counter, "   " + std::to_string(count) + " group(s) received data");
        EXPECT_EQ(behaviour->GroupCount(), count);
    }
}

TEST_F(BehaviourTest, ClearAsksAndOnlyOkEmpties) {
    const struct Row {
        TViewAnswer answer;
        bool cleared;
    } rows[] = {{TViewAnswer::cancel, false}, {TViewAnswer::ok, true}};
    Plug(1);
    Start();
    EXPECT_FALSE(behaviour->actClearUpdate());
    for (const Row& row : rows) {
        Receive("a\r");
        const int before = behaviour->GroupCount();
        view.messages.clear();
        view.answers = {row.answer};
        behaviour->actClearExecute();
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, "Are you sure to clear data?");
        EXPECT_EQ(view.messages[0].caption, "Clear data ?");
        EXPECT_EQ(view.messages[0].buttons, TViewButtons::okCancel);
        EXPECT_EQ(view.messages[0].defaultAnswer, TViewAnswer::cancel);
        EXPECT_EQ(view.lines.empty(), row.cleared);
        EXPECT_EQ(view.counter.empty(), row.cleared);
        EXPECT_EQ(behaviour->GroupCount(), row.cleared ? 0 : before);
        EXPECT_EQ(behaviour->actClearUpdate(), !row.cleared);
    }
    Receive("b\r");
    EXPECT_EQ(view.counter, "   1 group(s) received data");
}

// Connect, the choice of the port, a failed port, disconnect: what the status line and the
// two commands show after each step.
TEST_F(BehaviourTest, PortChoiceSequence) {
    enum Kind { select, fail, disconnect, connect, unplug, rescan };
    const struct Step {
        Kind kind;
        int port; // COM number, where the step has one
        std::string panel0;
        bool chosen;
    } steps[] = {
        {select, 3, "Opened Com Port:   COM3", true},
        {select, 1, "Opened Com Port:   COM3", true}, // only the first announcement counts
        {fail, 3, "Opened Com Port:   COM1 COM3 COM4", false},
        {select, 4, "Opened Com Port:   COM4", true},
        {disconnect, 0, "Opened Com Port:  ", false},
        {rescan, 0, "Opened Com Port:  ", false}, // no listening after a disconnect
        {connect, 0, "Opened Com Port:   COM1 COM3 COM4", false},
        {unplug, 4, "Opened Com Port:   COM1 COM3 COM4", false},
        {fail, 4, "Opened Com Port:   COM1 COM3", false},
    };
    for (const int n : {1, 3, 4})
        Plug(n);
    Start();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(behaviour->actStatusBar1Update().panels[0], "Opened Com Port:   COM1 COM3 COM4");
    EXPECT_EQ(behaviour->actStatusBar1Update().toolTip, "COM1: " + Pts(1) + "\nCOM3: " + Pts(3) + "\nCOM4: " + Pts(4));
    for (const Step& step : steps) {
        TCommThread* thread = step.port ? &behaviour->CommThread(step.port - 1) : nullptr;
        switch (step.kind) {
        case select:
            behaviour->SelectPort(thread);
            break;
        case fail:
            behaviour->PortFailed(thread);
            break;
        case disconnect:
            behaviour->actDisconnectExecute();
            break;
        case connect:
            behaviour->actConnectExecute();
            break;
        case unplug:
            ports.erase(step.port);
            break;
        case rescan:
            behaviour->Rescan();
            break;
        }
        const TStatusTexts texts = behaviour->actStatusBar1Update();
        const std::string trace = step.panel0 + " after step " + std::to_string(&step - steps);
        EXPECT_EQ(texts.panels[0], step.panel0) << trace;
        EXPECT_EQ(texts.panels[1], "") << trace; // nothing recognised: no header was sent
        EXPECT_EQ(behaviour->PortChosen(), step.chosen) << trace;
        const bool open = step.panel0 != "Opened Com Port:  ";
        EXPECT_EQ(behaviour->AnyPortOpen(), open) << trace;
        EXPECT_EQ(behaviour->actConnectUpdate(), !open) << trace;
        EXPECT_EQ(behaviour->actDisconnectUpdate(), open) << trace;
    }
}

TEST_F(BehaviourTest, TimerHeardNamesItsPortAndRate) {
    for (const int n : {1, 3})
        Plug(n);
    Start();
    ports.at(3)->Send({0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA});
    ASSERT_TRUE(RunUntil([&] { return behaviour->PortChosen(); }));
    const TStatusTexts texts = behaviour->actStatusBar1Update();
    EXPECT_EQ(texts.panels[0], "Opened Com Port:   COM3");
    EXPECT_EQ(texts.panels[1], "Receive data from  COM3, baud rate = 9600bps");
    EXPECT_EQ(texts.toolTip, "COM3: " + Pts(3));
}

TEST_F(BehaviourTest, NoPortAsksUntilCancelOrAPortOpens) {
    const struct Row {
        std::deque<TViewAnswer> answers;
        int plugOnBox; // plugged while box number N is shown (1-based); 0: never
        std::size_t boxes;
        bool terminated;
    } rows[] = {
        {{TViewAnswer::cancel}, 0, 1, true},
        {{TViewAnswer::retry, TViewAnswer::retry, TViewAnswer::cancel}, 0, 3, true},
        {{TViewAnswer::retry}, 1, 1, false},
    };
    for (const Row& row : rows) {
        view.messages.clear();
        view.terminated = false;
        view.answers = row.answers;
        view.onMessage = [&] {
            if (static_cast<int>(view.messages.size()) == row.plugOnBox)
                Plug(2);
        };
        Start();
        ASSERT_EQ(view.messages.size(), row.boxes);
        for (const TViewMessage& box : view.messages) {
            EXPECT_EQ(box.text, "No COM port can be opened. Retry?");
            EXPECT_EQ(box.caption, "Retry");
            EXPECT_EQ(box.buttons, TViewButtons::retryCancel);
            EXPECT_EQ(box.icon, TViewIcon::question);
            EXPECT_EQ(box.detail, "No serial ports were found.");
        }
        EXPECT_EQ(view.terminated, row.terminated);
        EXPECT_EQ(behaviour->AnyPortOpen(), !row.terminated);
        behaviour.reset();
        ports.clear();
    }
}

TEST_F(BehaviourTest, SettingsGoToSlotZeroOnlyOnOk) {
    const struct Row {
        std::optional<TPortSettings> chosen;
        std::string portName;
        std::int32_t baudRate;
    } rows[] = {{std::nullopt, "COM1", 9600}, {TPortSettings{"COM3", 19200}, "COM3", 19200}};
    Plug(1);
    Start();
    for (const Row& row : rows) {
        view.settings = row.chosen;
        behaviour->actSettingExecute();
        EXPECT_EQ(view.asked.portName, "COM1");
        EXPECT_EQ(view.asked.baudRate, 9600);
        EXPECT_EQ(behaviour->CommThread(0).GetPort().GetPortName(), row.portName);
        EXPECT_EQ(behaviour->CommThread(0).GetPort().GetBaudRate(), row.baudRate);
    }
}

TEST_F(BehaviourTest, UnkeptGroupIsShownConfirmedAndToldOnce) {
    const std::filesystem::path blocked = data.path / "blocked";
    std::ofstream(blocked) << "not a folder";
    Plug(3);
    Start((blocked / "received").string());
    // A group without records, then the same again.
    const Bytes group{0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA, 0xAB, 0x0F, 0xF0, 0, 0, 0, 0, 0};
    for (int i = 1; i <= 2; ++i) {
        ports.at(3)->Send(group);
        Bytes reply;
        ASSERT_TRUE(RunUntil([&] {
            const Bytes more = ports.at(3)->Receive(1, 0ms);
            reply.insert(reply.end(), more.begin(), more.end());
            return !reply.empty();
        }));
        EXPECT_EQ(reply, Bytes{0xFA});
        EXPECT_EQ(behaviour->GroupCount(), i);
    }
    ASSERT_EQ(view.PostedCount(), 1u);
    EXPECT_TRUE(view.messages.empty()) << "told from the event loop, not inside the receiver's call";
    view.posted[0]();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Received groups are not being kept on disk.");
    EXPECT_EQ(view.messages[0].icon, TViewIcon::warning);
    EXPECT_NE(view.messages[0].detail.find("Folder: " + (blocked / "received").string()), std::string::npos);
}

// What open does to the text, and what it refuses before the text changes.
TEST_F(BehaviourTest, OpenReplacesTheTextOrRefuses) {
    const std::string longLine(longestLineBytes + 1, 'x');
    const struct Row {
        const char* name;
        std::function<void(std::ofstream&)> write; // null: no such file
        std::vector<std::string> lines;
        bool finalLineEnd;
        std::string refusal; // empty: opens
        int cancelAt = 0;
    } rows[] = {
        {"every line end", [](std::ofstream& out) { out << "a\r\nb\nc\rd\r\n"; }, {"a", "b", "c", "d"}, true, ""},
        {"no final line end", [](std::ofstream& out) { out << "a\r\n\r\nb"; }, {"a", "", "b"}, false, ""},
        {"zero byte ends the text", [&](std::ofstream& out) { out << "ab" << '\0' << longLine; }, {"ab"}, false, ""},
        {"every other byte",
         [](std::ofstream& out) { out << "\x01\x80\xA0\xFF\t\r\n"; },
         {"\x01\x80\xA0\xFF\t"},
         true,
         ""},
        {"empty", [](std::ofstream&) {}, {}, false, ""},
        {"missing", nullptr, {"kept"}, true, "Cannot open file "},
        {"overlong line", [&](std::ofstream& out) { out << "a\n"
                                                        << longLine; }, {"kept"}, true, ": line 2 is longer"},
        {"capacity",
         [](std::ofstream& out) { out << std::string(memoCapacityBytes + 1, '\n'); },
         {"kept"},
         true,
         "Text exceeds memo capacity"},
        {"cancelled while reading", [](std::ofstream& out) { out << "new\r\n"; }, {"kept"}, true, "", 1},
    };
    Plug(1);
    Start();
    for (const Row& row : rows) {
        view.ClearText();
        Receive("kept\r");
        const std::string path = (data.path / "in.txt").string();
        std::filesystem::remove(path);
        if (row.write) {
            std::ofstream out(path, std::ios::binary);
            row.write(out);
        }
        view.chosenFile = path;
        view.cancelAt = row.cancelAt;
        std::string refusal;
        try {
            behaviour->actFileOpenExecute();
        } catch (const Exception& error) {
            refusal = error.Message;
        }
        EXPECT_EQ(refusal.empty(), row.refusal.empty()) << row.name << ": " << refusal;
        EXPECT_NE(refusal.find(row.refusal), std::string::npos) << row.name << ": " << refusal;
        EXPECT_EQ(view.lines, row.lines) << row.name;
        EXPECT_EQ(view.finalLineEnd, row.finalLineEnd) << row.name;
        EXPECT_EQ(view.counter, "   " + std::to_string(behaviour->GroupCount()) + " group(s) received data");
    }
    EXPECT_EQ(view.workTexts.back(), "Opening in.txt");
    // A directory is not a file to open.
    view.chosenFile = data.path.string();
    EXPECT_THROW(behaviour->actFileOpenExecute(), EFOpenError);
    view.cancelAt = 0;
}

TEST_F(BehaviourTest, SaveWritesCrLfLinesOrSaysWhy) {
    const struct Row {
        std::vector<std::string> lines;
        bool finalLineEnd;
        TWriteResult result;
        std::optional<std::string> file; // what is written; nullopt: nothing
        std::string error;
    } rows[] = {
        {{"a", "", "\xE9\tb"}, true, TWriteResult::written, "a\r\n\r\n\xE9\tb\r\n", ""},
        {{"a", "b"}, false, TWriteResult::written, "a\r\nb", ""},
        {{}, false, TWriteResult::written, "", ""},
        {{"a"}, true, TWriteResult::cancelled, std::nullopt, ""},
        {{"a"}, true, TWriteResult::failed, std::nullopt, "Cannot create file /x/report.txt"},
    };
    Plug(1);
    Start();
    view.chosenFile = "/x/report.txt";
    for (const Row& row : rows) {
        view.lines = row.lines;
        view.finalLineEnd = row.finalLineEnd;
        view.writeResult = row.result;
        view.written.clear();
        std::string error;
        try {
            behaviour->actFileSaveAsExecute();
        } catch (const EFCreateError& failure) {
            error = failure.Message;
        }
        EXPECT_EQ(error, row.error);
        const auto file = view.written.find("/x/report.txt");
        EXPECT_EQ(file == view.written.end() ? std::nullopt : std::optional(file->second), row.file);
    }
    EXPECT_EQ(view.workTexts.back(), "Saving report.txt");
    view.chosenFile.reset(); // the dialog cancelled
    view.writeResult = TWriteResult::written;
    behaviour->actFileSaveAsExecute();
    EXPECT_TRUE(view.written.empty());
}

// Every line of the view, in order, onto pages as the layout places them; a cancel stops.
TEST_F(BehaviourTest, PrintDrawsEveryLineWhereTheLayoutPutsIt) {
    const struct Row {
        int lines;
        std::optional<int> pageHeight;
        int cancelAt;
        std::vector<std::pair<int, int>> drawn; // page and top of each line drawn
        std::string lastText;
    } rows[] = {
        {5, 1000, 0, {{1, 100}, {1, 300}, {1, 500}, {2, 100}, {2, 300}}, "Printing page 2"},
        {0, 1000, 0, {}, "Printing page 1"},
        {5, 1000, 2, {{1, 100}, {1, 300}}, "Printing page 1"},
        {5, std::nullopt, 0, {}, ""},
    };
    Plug(1);
    Start();
    for (const Row& row : rows) {
        view.lines.assign(static_cast<std::size_t>(row.lines), "line");
        view.printer = row.pageHeight;
        view.cancelAt = row.cancelAt;
        view.drawn.clear();
        view.workTexts.clear();
        behaviour->actPrintExecute();
        std::vector<std::pair<int, int>> drawn;
        for (std::size_t i = 0; i < view.drawn.size(); ++i) {
            drawn.emplace_back(view.drawn[i].page, view.drawn[i].rect.top);
            EXPECT_EQ(view.drawn[i].line, static_cast<int>(i));
        }
        EXPECT_EQ(drawn, row.drawn) << row.lines << " lines";
        EXPECT_EQ(view.workTexts.empty() ? "" : view.workTexts.back(), row.lastText);
    }
    view.cancelAt = 0;
}

TEST(PrintLayoutTest, LinesStepDownAndBreakAboveTheBottomMargin) {
    const struct Row {
        int pageHeight, lineHeight, lines;
        std::vector<std::pair<int, int>> placed; // page and top of each line
    } rows[] = {
        // y >= H - 100 - h starts a page: 1000 - 100 - 200 = 700, so 100, 300, 500 fit.
        {1000, 200, 5, {{1, 100}, {1, 300}, {1, 500}, {2, 100}, {2, 300}}},
        // A bottom one short of the margin still fits: 898 + 399 = 1297 < 1300; 900 + 400 does not.
        {1400, 399, 4, {{1, 100}, {1, 499}, {1, 898}, {2, 100}}},
        {1400, 400, 3, {{1, 100}, {1, 500}, {2, 100}}},
    };
    for (const Row& row : rows) {
        TPrintLayout layout(800, row.pageHeight);
        for (int i = 0; i < row.lines; ++i) {
            const int pageBefore = layout.Page();
            const TPrintLayout::TPlace place = layout.Next(row.lineHeight);
            EXPECT_EQ(place.newPage, layout.Page() != pageBefore);
            EXPECT_EQ(std::make_pair(layout.Page(), place.rect.top), row.placed[static_cast<std::size_t>(i)])
                << row.pageHeight << "/" << row.lineHeight << " line " << i;
            EXPECT_EQ(place.rect.left, 100);
            EXPECT_EQ(place.rect.right, 700);
            EXPECT_EQ(place.rect.bottom, place.rect.top + row.lineHeight + 4);
        }
    }
    EXPECT_EQ(PrintingPageText(3), "Printing page 3");
}

} // namespace
