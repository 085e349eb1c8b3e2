// SPDX-License-Identifier: MIT
#include "ApplicationWin32.h"
#include "FakeCommands.h"
#include "MainForm.h"
#include "Resource.h"
#include "TextRules.h"
#include "UiThread.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class MainFormWin32 : public ::testing::Test {
protected:
    TWin32Application application;
    TMainForm form{application};
    int clears = 0;
    TFakeCommands* commands = nullptr;

    void SetUp() override {
        auto fake = std::make_unique<TFakeCommands>();
        fake->clears = &clears;
        commands = fake.get();
        form.Attach(std::move(fake));
    }
};

// The first connect may ask before anything shows; its Cancel ends the program unseen.
TEST(MainFormWin32Start, TheWindowShowsOnlyAfterTheFirstConnectAndNotWhenThatEndedTheProgram) {
    for (const bool cancelled : {false, true}) {
        SCOPED_TRACE(cancelled ? "cancelled" : "connected");
        TWin32Application application;
        TMainForm form(application);
        auto commands = std::make_unique<TFakeCommands>();
        bool visibleAtStart = true;
        commands->onStart = [&] {
            visibleAtStart = IsWindowVisible(form.Handle()) != FALSE;
            if (cancelled)
                application.Terminate();
        };
        form.Attach(std::move(commands));
        EXPECT_FALSE(visibleAtStart);
        EXPECT_EQ(IsWindowVisible(form.Handle()) != FALSE, !cancelled);
    }
}

TEST_F(MainFormWin32, AppendedLinesAreCountedAsTheViewsLineList) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> appends;
        std::string text;
        int lines;
    };
    const Case cases[] = {
        {"empty", {}, "", 0},
        {"one group", {{"a", "b"}}, "a\r\nb\r\n", 2},
        {"two groups", {{"a"}, {"b", "c"}}, "a\r\nb\r\nc\r\n", 3},
        {"empty line kept", {{"", "x"}}, "\r\nx\r\n", 2},
        {"8-bit bytes kept", {{"\xe9\xa0\xff"}}, "\xe9\xa0\xff\r\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form.ClearText();
        for (const auto& lines : c.appends)
            form.AppendLines(lines);
        EXPECT_EQ(form.Text(), c.text);
        EXPECT_EQ(form.LineCount(), c.lines);
        EXPECT_EQ(form.EndsWithLineEnd(), c.lines != 0);
    }
}

// A day's session: the capacity opened, then groups appended after it.
TEST_F(MainFormWin32, TheViewHoldsTheCapacityAndGroupsAfterIt) {
    const std::string line(62, 'x');
    std::string text;
    while (text.size() + line.size() + 2 <= static_cast<std::size_t>(memoCapacityBytes))
        text += line + "\r\n";
    const int lines = static_cast<int>(text.size() / (line.size() + 2));
    auto work = form.BeginLongWork("Opening", 10);
    form.ReplaceText(text, 0, false, *work, 0);
    form.AppendLines({"group", "end"});
    EXPECT_EQ(form.LineCount(), lines + 2);
    EXPECT_EQ(form.Text().size(), text.size() + 12);
    EXPECT_EQ(form.Text().substr(text.size()), "group\r\nend\r\n");
}

TEST_F(MainFormWin32, TheTextViewCopiesWhatIsSelected) {
    TTextView view(form.Handle(), GetModuleHandleA(nullptr));
    view.EditLines().AppendText("abc\r\nde\tf\r\n\r\nlast");
    view.Changed(true);
    struct Case {
        const char* name;
        TTextView::TPosition anchor, caret;
        const char* selected;
    };
    const Case cases[] = {
        {"within a line", {0, 1}, {0, 3}, "bc"},
        {"across lines, backwards", {1, 2}, {0, 1}, "bc\r\nde"},
        {"an empty line and the line ends", {1, 5}, {3, 0}, "\r\n\r\n"},
        {"clamped to the text", {0, 0}, {9, 9}, "abc\r\nde\tf\r\n\r\nlast"},
        {"nothing", {2, 0}, {2, 0}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.Select(c.anchor, c.caret);
        EXPECT_EQ(view.SelectedText(), c.selected);
    }
    view.SelectAll();
    EXPECT_EQ(view.SelectedText(), view.Lines().Text());
    EXPECT_TRUE(view.CopySelection());
    ASSERT_TRUE(OpenClipboard(view.Handle()));
    const auto data = static_cast<const char*>(GlobalLock(GetClipboardData(CF_TEXT)));
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(data, "abc\r\nde\tf\r\n\r\nlast");
    GlobalUnlock(GetClipboardData(CF_TEXT));
    CloseClipboard();
}

struct TCancellableWork : TViewWork {
    bool cancelled = false;
    bool Step(int) override { return !cancelled; }
    void SetMaximum(int) override {}
    void SetText(const std::string&) override {}
};

// Groups that arrive while a file is read follow its text, or the old text when cancelled.
TEST_F(MainFormWin32, ReplaceKeepsTheGroupsThatArrivedAndWalkHandsBackTheLines) {
    const struct {
        const char* name;
        bool cancelled;
        std::vector<std::string> lines;
    } cases[] = {
        {"replaced", false, {"new1", "new2", "new3", "arrived"}},
        {"cancelled", true, {"old1", "old2", "arrived"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        form.ClearText();
        form.AppendLines({"old1", "old2"});
        TCancellableWork work;
        work.cancelled = c.cancelled;
        form.AppendLines({"arrived"});
        form.ReplaceText("new1\nnew2\rnew3\r\n", 2, true, work, 0);
        work.cancelled = false;
        std::vector<std::string> walked;
        EXPECT_TRUE(
            form.WalkLines(form.LineCount(), work, 0, [&](const std::string& line) { walked.push_back(line); }));
        EXPECT_EQ(walked, c.lines);
        EXPECT_TRUE(form.EndsWithLineEnd());
    }
}

TEST_F(MainFormWin32, CounterStatusPanelsAndCommandsFollowTheBehaviour) {
    form.SetCounterText("12");
    EXPECT_EQ(form.CounterText(), "12");
    form.UpdateStates();
    EXPECT_EQ(form.StatusText(0), "Not connected");
    // The hidden "&COM" menu's command is still reachable.
    SendMessageA(form.Handle(), WM_COMMAND, ID_COM_CONNECT, 0);
    form.UpdateStates();
    EXPECT_EQ(form.StatusText(0), "COM3 9600");
    EXPECT_EQ(form.StatusText(1), "Listening");
    SendMessageA(form.Handle(), WM_COMMAND, ID_CLEAR, 0);
    EXPECT_EQ(clears, 1);
    // Only "&File" shows on the menu bar.
    EXPECT_EQ(GetMenuItemCount(GetMenu(form.Handle())), 1);
}

TEST_F(MainFormWin32, CloseEndsTheMessageLoopAndPostedCallsRun) {
    bool ran = false;
    form.PostToWindow([&] { ran = true; });
    PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
    form.Run();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(form.Terminating());
}

// Presses `key` in the settings dialog once it is open.
UINT pressedKey = 0;
void CALLBACK PressKeyInSettings(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA("#32770", "CommSettingsForm");
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    HWND focus = GetFocus();
    PostMessageA(focus ? focus : dialog, WM_KEYDOWN, pressedKey, 0);
}

TEST_F(MainFormWin32, SettingsDialogTakesEnterAsOkAndEscapeAsCancel) {
    struct Case {
        const char* name;
        UINT key;
        std::optional<TPortSettings> expected;
    };
    const Case cases[] = {
        {"Enter in the port list", VK_RETURN, TPortSettings{"COM3", 19200}},
        {"Escape", VK_ESCAPE, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pressedKey = c.key;
        SetTimer(nullptr, 0, 50, PressKeyInSettings);
        const std::optional<TPortSettings> chosen = form.AskPortSettings("COM3", 19200);
        ASSERT_EQ(chosen.has_value(), c.expected.has_value());
        if (chosen) {
            EXPECT_EQ(chosen->portName, c.expected->portName);
            EXPECT_EQ(chosen->baudRate, c.expected->baudRate);
        }
    }
}

// Reads the task dialog's texts once it is open, then presses `pressedButton` (IDCANCEL as
// Escape does).
int pressedButton = 0;
std::string boxTexts;
BOOL CALLBACK CollectText(HWND child, LPARAM) {
    char text[512] = {};
    GetWindowTextA(child, text, sizeof text);
    boxTexts.append(text).push_back('|');
    return TRUE;
}
void CALLBACK PressInTaskDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA("#32770", "Box with detail");
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    boxTexts.clear();
    boxTexts.push_back('|');
    EnumChildWindows(dialog, CollectText, 0);
    PostMessageA(dialog, TDM_CLICK_BUTTON, static_cast<WPARAM>(pressedButton), 0);
}

TEST_F(MainFormWin32, AMessagesDetailGoesBelowItsTextAndItsButtonsAnswer) {
    struct Case {
        TViewButtons buttons;
        int pressed;
        TViewAnswer answer;
    };
    const Case cases[] = {
        {TViewButtons::retryCancel, IDRETRY, TViewAnswer::retry},
        {TViewButtons::retryCancel, IDCANCEL, TViewAnswer::cancel},
        {TViewButtons::ok, IDCANCEL, TViewAnswer::ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pressed);
        pressedButton = c.pressed;
        SetTimer(nullptr, 0, 50, PressInTaskDialog);
        const TViewAnswer answer = form.ShowMessage({"No COM port can be opened. Retry?", "Box with detail", c.buttons,
                                                     TViewIcon::question, TViewAnswer::cancel, "COM1: in use"});
        EXPECT_EQ(answer, c.answer);
        // Each in a place of its own, not appended to the text as a message box has it.
        EXPECT_NE(boxTexts.find("|No COM port can be opened. Retry?|"), std::string::npos) << boxTexts;
        EXPECT_NE(boxTexts.find("|COM1: in use|"), std::string::npos) << boxTexts;
    }
}

TEST_F(MainFormWin32, AMonitorOfAnotherResolutionScalesTheWindowItsFontsAndTools) {
    form.SetCounterText("   3 group(s) received data");
    const HDC screen = GetDC(form.Handle());
    const int first = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(form.Handle(), screen);
    struct Case {
        int dpi;
        RECT suggested;
    };
    // Within the 1024 x 768 of the tests' screen, which bounds a window.
    const Case cases[] = {{2 * first, {40, 30, 40 + 900, 30 + 700}}, {first, {20, 10, 20 + 577, 10 + 550}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        SendMessageA(form.Handle(), WM_DPICHANGED, MAKEWPARAM(c.dpi, c.dpi), reinterpret_cast<LPARAM>(&c.suggested));
        RECT now{};
        GetWindowRect(form.Handle(), &now);
        EXPECT_EQ(std::vector<LONG>({now.left, now.right, now.bottom - now.top}),
                  std::vector<LONG>({c.suggested.left, c.suggested.right, c.suggested.bottom - c.suggested.top}));
        LOGFONTA font{};
        const HWND memo = FindWindowExA(form.Handle(), nullptr, "TavroTextView", nullptr);
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(memo, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -MulDiv(15, c.dpi, 96));
        const HWND tools = FindWindowExA(form.Handle(), nullptr, TOOLBARCLASSNAMEA, nullptr);
        int width = 0, height = 0;
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendMessageA(tools, TB_GETIMAGELIST, 0, 0)), &width,
                              &height);
        EXPECT_EQ(width, MulDiv(32, c.dpi, 96));
        EXPECT_EQ(form.CounterText(), "   3 group(s) received data");
    }
}

} // namespace
