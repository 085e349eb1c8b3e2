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

private:
    std::vector<std::string>& texts;
    int cancelAt;
    int steps = 0;
};

// Records the page and the place of each line drawn.
class FakePrintJob : public TViewPrintJob {
public:
    FakePrintJob(std::vector<std::pair<int, TPrintRect>>& drawn, int height, int lineHeight)
        : drawn(drawn), height(height), lineHeight(lineHeight) {}
    int PageWidth() const override { return 800; }
    int PageHeight() const override { return height; }
    int LineHeight() const override { return lineHeight; }
    void NewPage() override { ++page; }
    void DrawLine(int, const TPrintRect& rect) override { drawn.emplace_back(page, rect); }

private:
    std::vector<std::pair<int, TPrintRect>>& drawn;
    int height, lineHeight, page = 1;
};

// The text view is a list of lines and whether a line end follows the last one.
class FakeView : public TMainFormView {
public:
    void AppendLines(const std::vector<std::string>& more) override {
        finalLineEnd = finalLineEnd || (lines.empty() && !more.empty());
        lines.insert(lines.end(), more.begin(), more.end());
    }
    void ClearText() override { lines.clear(), finalLineEnd = false; }
    int LineCount() const override { return static_cast<int>(lines.size()); }
    void SetCounterText(const std::string& text) override { counter = text; }
    TViewAnswer ShowMessage(const TViewMessage& message) override {
        messages.push_back(message);
        if (static_cast<int>(messages.size()) == plugOnMessage)
            onPlug();
        const TViewAnswer answer = answers.empty() ? TViewAnswer::ok : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }
    std::optional<TPortSettings> AskPortSettings(const std::string&, std::int32_t) override { return std::nullopt; }
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
        const std::vector<std::string> arrived(lines.begin() + oldLines, lines.end());
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
        return page ? std::make_unique<FakePrintJob>(drawn, page->first, page->second) : nullptr;
    }
    void PostToWindow(std::function<void()>) override {}
    void Terminate() override { terminated = true; }
    bool Terminating() const override { return terminated; }

    std::vector<std::string> lines;
    bool finalLineEnd = false;
    std::string counter;
    std::vector<TViewMessage> messages;
    std::deque<TViewAnswer> answers;
    int plugOnMessage = 0;
    std::function<void()> onPlug;
    std::optional<std::string> chosenFile;
    std::vector<std::string> workTexts;
    int cancelAt = 0;
    TWriteResult writeResult = TWriteResult::written;
    std::map<std::string, std::string> written;
    std::optional<std::pair<int, int>> page; // printer page and line height; nullopt: dialog cancelled
    std::vector<std::pair<int, TPrintRect>> drawn;
    bool terminated = false;
};

class BehaviourTest : public ::testing::Test {
protected:
    void Plug(int n) { ports[n] = std::make_unique<PseudoTerminal>(dir.path, n); }
    void Start() {
        behaviour = std::make_unique<TMainFormBehaviour>(view, (data.path / "journal").string());
        behaviour->Start();
    }
    void Receive(const std::string& block) { behaviour->ReceiveGroupText(Bytes(block.begin(), block.end())); }
    std::string Pts(int n) { return std::filesystem::read_symlink(ports.at(n)->link).string(); }

    // The user-interface thread that the receiver threads call.
    std::unique_ptr<TApplication> application = [] {
        static int argc = 1;
        static char name[] = "behaviour-tests";
        static char* argv[] = {name, nullptr};
        return std::make_unique<TApplication>(argc, argv);
    }();
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
    }
}

TEST_F(BehaviourTest, ClearAsksAndOnlyOkEmpties) {
    Plug(1);
    Start();
    EXPECT_FALSE(behaviour->actClearUpdate());
    for (const TViewAnswer answer : {TViewAnswer::cancel, TViewAnswer::ok}) {
        Receive("a\r");
        const bool cleared = answer == TViewAnswer::ok;
        view.messages.clear();
        view.answers = {answer};
        behaviour->actClearExecute();
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, "Are you sure to clear data?");
        EXPECT_EQ(view.messages[0].caption, "Clear data ?");
        EXPECT_EQ(view.messages[0].buttons, TViewButtons::okCancel);
        EXPECT_EQ(view.messages[0].defaultAnswer, TViewAnswer::cancel);
        EXPECT_EQ(view.lines.empty(), cleared);
        EXPECT_EQ(view.counter.empty(), cleared);
        EXPECT_EQ(behaviour->actClearUpdate(), !cleared);
    }
    Receive("b\r");
    EXPECT_EQ(view.counter, "   1 group(s) received data");
}

// Connect, the choice of the port, the timer heard, a failed port, disconnect: what the status
// line and the two commands show after each step.
TEST_F(BehaviourTest, PortChoiceSequence) {
    enum Kind { select, hear, fail, disconnect, connect, unplug, rescan };
    const struct Step {
        Kind kind;
        int port; // COM number, where the step has one
        std::string ports;
        bool chosen;
        bool heard = false;
    } steps[] = {
        {select, 3, " COM3", true},
        {select, 1, " COM3", true}, // only the first announcement counts
        {fail, 3, " COM1 COM3 COM4", false},
        {hear, 4, " COM4", true, true},
        {disconnect, 0, "", false},
        {rescan, 0, "", false}, // no listening after a disconnect
        {connect, 0, " COM1 COM3 COM4", false},
        {unplug, 4, " COM1 COM3 COM4", false},
        {fail, 4, " COM1 COM3", false},
    };
    for (const int n : {1, 3, 4})
        Plug(n);
    Start();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(behaviour->actStatusBar1Update().toolTip, "COM1: " + Pts(1) + "\nCOM3: " + Pts(3) + "\nCOM4: " + Pts(4));
    for (const Step& step : steps) {
        TCommThread* thread = step.port ? &behaviour->CommThread(step.port - 1) : nullptr;
        const std::string trace = "step " + std::to_string(&step - steps);
        switch (step.kind) {
        case select:
            behaviour->SelectPort(thread);
            break;
        case hear:
            ports.at(step.port)->Send({0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA});
            ASSERT_TRUE(
                WaitOnUiThreadUntil([&] { return behaviour->PortChosen(); }, std::chrono::steady_clock::now() + 10s));
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
        EXPECT_EQ(texts.panels[0], "Opened Com Port:  " + step.ports) << trace;
        EXPECT_EQ(texts.panels[1], step.heard ? "Receive data from " + step.ports + ", baud rate = 9600bps" : "")
            << trace;
        EXPECT_EQ(behaviour->PortChosen(), step.chosen) << trace;
        EXPECT_EQ(behaviour->AnyPortOpen(), !step.ports.empty()) << trace;
        EXPECT_EQ(behaviour->actConnectUpdate(), step.ports.empty()) << trace;
        EXPECT_EQ(behaviour->actDisconnectUpdate(), !step.ports.empty()) << trace;
    }
}

TEST_F(BehaviourTest, NoPortAsksUntilCancelOrAPortOpens) {
    const struct Row {
        std::deque<TViewAnswer> answers;
        int plugOnMessage; // COM2 appears while this box is shown; 0: never
        std::size_t boxes;
    } rows[] = {
        {{TViewAnswer::cancel}, 0, 1},
        {{TViewAnswer::retry, TViewAnswer::retry, TViewAnswer::cancel}, 0, 3},
        {{TViewAnswer::retry}, 1, 1},
    };
    view.onPlug = [&] { Plug(2); };
    for (const Row& row : rows) {
        view.messages.clear();
        view.terminated = false;
        view.answers = row.answers;
        view.plugOnMessage = row.plugOnMessage;
        Start();
        ASSERT_EQ(view.messages.size(), row.boxes);
        for (const TViewMessage& box : view.messages) {
            EXPECT_EQ(box.text, "No COM port can be opened. Retry?");
            EXPECT_EQ(box.caption, "Retry");
            EXPECT_EQ(box.buttons, TViewButtons::retryCancel);
            EXPECT_EQ(box.detail, "No serial ports were found.");
        }
        EXPECT_EQ(view.terminated, row.plugOnMessage == 0);
        EXPECT_EQ(behaviour->AnyPortOpen(), row.plugOnMessage != 0);
        behaviour.reset();
        ports.clear();
    }
}

// What open does to the text, and what it refuses before the text changes.
TEST_F(BehaviourTest, OpenReplacesTheTextOrRefuses) {
    const std::string longLine(longestLineBytes + 1, 'x');
    const struct Row {
        const char* name;
        std::string file; // "-": none
        std::vector<std::string> lines;
        bool finalLineEnd;
        std::string refusal; // empty: opens
        int cancelAt = 0;
    } rows[] = {
        {"every line end", "a\r\nb\nc\rd\r\n", {"a", "b", "c", "d"}, true, ""},
        {"no final line end", "a\r\n\r\nb", {"a", "", "b"}, false, ""},
        {"zero byte ends the text", std::string("ab\0", 3) + longLine, {"ab"}, false, ""},
        {"every other byte", "\x01\x80\xA0\xFF\t\r\n", {"\x01\x80\xA0\xFF\t"}, true, ""},
        {"empty", "", {}, false, ""},
        {"missing", "-", {"kept"}, true, "Cannot open file "},
        {"overlong line", "a\n" + longLine, {"kept"}, true, ": line 2 is longer"},
        {"capacity", std::string(memoCapacityBytes + 1, '\n'), {"kept"}, true, "Text exceeds memo capacity"},
        {"cancelled while reading", "new\r\n", {"kept"}, true, "", 1},
    };
    Plug(1);
    Start();
    const std::string path = (data.path / "in.txt").string();
    for (const Row& row : rows) {
        view.ClearText();
        Receive("kept\r");
        std::filesystem::remove(path);
        if (row.file != "-")
            std::ofstream(path, std::ios::binary) << row.file;
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
    view.chosenFile = data.path.string(); // a folder
    EXPECT_THROW(behaviour->actFileOpenExecute(), EFOpenError);
}

TEST_F(BehaviourTest, SaveWritesCrLfLinesOrSaysWhy) {
    const struct Row {
        std::vector<std::string> lines;
        bool finalLineEnd;
        TWriteResult result;
        std::optional<std::string> file; // what is written
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
}

// Every line onto pages from the top margin; a page ends before a line whose bottom would
// reach the bottom margin; a cancel stops the job.
TEST_F(BehaviourTest, PrintPlacesEveryLineAboveTheBottomMargin) {
    const struct Row {
        int lines;
        std::optional<std::pair<int, int>> page; // page and line height
        int cancelAt;
        std::vector<std::pair<int, int>> drawn; // page and top of each line
    } rows[] = {
        {5, {{1000, 200}}, 0, {{1, 100}, {1, 300}, {1, 500}, {2, 100}, {2, 300}}},
        // 898 + 399 = 1297 stays above 1300; 900 + 400 does not.
        {4, {{1400, 399}}, 0, {{1, 100}, {1, 499}, {1, 898}, {2, 100}}},
        {3, {{1400, 400}}, 0, {{1, 100}, {1, 500}, {2, 100}}},
        {0, {{1000, 200}}, 0, {}},
        {5, {{1000, 200}}, 2, {{1, 100}, {1, 300}}},
        {5, std::nullopt, 0, {}},
    };
    Plug(1);
    Start();
    for (const Row& row : rows) {
        view.lines.assign(static_cast<std::size_t>(row.lines), "line");
        view.page = row.page;
        view.cancelAt = row.cancelAt;
        view.drawn.clear();
        behaviour->actPrintExecute();
        std::vector<std::pair<int, int>> drawn;
        for (const auto& [page, rect] : view.drawn) {
            drawn.emplace_back(page, rect.top);
            EXPECT_EQ(rect.left, 100);
            EXPECT_EQ(rect.right, 700);
            EXPECT_EQ(rect.bottom, rect.top + row.page->second + 4);
        }
        EXPECT_EQ(drawn, row.drawn) << row.lines << " lines";
    }
    EXPECT_EQ(PrintingPageText(2), "Printing page 2");
}

} // namespace
