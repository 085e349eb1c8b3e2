// SPDX-License-Identifier: MIT
// How a received block becomes lines of the text view, and the group counter.
#include "WindowFixture.h"

#include <QMenu>
#include <QScrollBar>
#include <QToolButton>

namespace window {
namespace {

class DisplayTest : public WindowTest {
protected:
    void SetUp() override {
        Plug({1});
        OpenWindow();
    }
    void Receive(const std::string& block) { form->ReceiveGroupText(Bytes(block.begin(), block.end())); }
};

TEST_F(DisplayTest, LineEndsOfABlock) {
    struct Row {
        std::string block;
        std::string viewText; // the view's text afterwards, '\n' between lines
    };
    const std::vector<Row> rows{
        {"a\rb\r", "a\nb\n"},
        {"a\rb\r\r", "a\nb\n\n"}, // two line ends at the end: one empty line
        {"a\nb\r\nc", "a\nb\nc\n"},
        {"a\r\n\r\nb\n", "a\n\nb\n"},
        {"", ""},
        {std::string("ab\0cd\r", 6), "ab\n"}, // a zero byte ends the text
        {"\xE9t\xE9\t\xA0\r", "\xE9t\xE9\t\xA0\n"},
    };
    for (const Row& row : rows) {
        Memo().clear();
        Receive(row.block);
        EXPECT_EQ(ViewText(), row.viewText) << row.block;
    }
}

TEST_F(DisplayTest, BlocksAppendAfterTheLastLine) {
    Receive("one\r");
    Receive("two\rthree\r");
    EXPECT_EQ(ViewText(), "one\ntwo\nthree\n");
    // A view whose text does not end with a line end (an opened file) gets the new lines after
    // its last line all the same.
    Memo().setPlainText(QStringLiteral("file"));
    Receive("four\rfive\r");
    EXPECT_EQ(ViewText(), "file\nfour\nfive");
}

TEST_F(DisplayTest, LargeBlocksAreCutToTheirEnd) {
    struct Row {
        std::size_t size;
        std::size_t shown;
    };
    for (const Row row : {Row{400000, 326656}, Row{327680, 327680}, Row{327681, 326656}}) {
        Memo().clear();
        std::string block(row.size, 'a');
        for (std::size_t i = 0; i < row.size; i += 100)
            block[i] = static_cast<char>('0' + i / 100 % 10);
        Receive(block);
        const std::string shown = ViewText();
        ASSERT_EQ(shown.size(), row.shown + 1) << row.size;
        EXPECT_TRUE(shown == block.substr(row.size - row.shown) + "\n") << row.size;
    }
}

TEST_F(DisplayTest, CounterAndClearButton) {
    form->Actions().UpdateAll();
    EXPECT_EQ(Label(), "");
    EXPECT_FALSE(Action("actClear").isEnabled());
    EXPECT_FALSE(form->findChild<QToolButton*>(QStringLiteral("ToolButton4"))->isEnabled());
    EXPECT_TRUE(form->findChild<QToolButton*>(QStringLiteral("ToolButton1"))->isEnabled());
    for (int i = 1; i <= 10; ++i)
        Receive("MCH:\r");
    EXPECT_EQ(Label(), "   10 group(s) received data");
    form->Actions().UpdateAll();
    EXPECT_TRUE(Action("actClear").isEnabled());
}

TEST_F(DisplayTest, ViewFollowsTheEndButStaysAtTheLeft) {
    form->show();
    std::string longLine(2000, 'w');
    for (int i = 0; i < 200; ++i)
        Receive(longLine + "\r");
    QApplication::processEvents();
    EXPECT_EQ(Memo().verticalScrollBar()->value(), Memo().verticalScrollBar()->maximum());
    EXPECT_GT(Memo().horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(Memo().horizontalScrollBar()->value(), 0);
    EXPECT_TRUE(Memo().textCursor().atEnd());
}

TEST_F(DisplayTest, LayoutAndTexts) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tavro"));
    EXPECT_EQ(Memo().isReadOnly(), true);
    EXPECT_EQ(Memo().lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(Memo().font().pixelSize(), 15);
    const std::vector<std::pair<const char*, const char*>> hints{
        {"ToolButton1", "Open file"},   {"ToolButton2", "Save as"}, {"ToolButton3", "Print"},
        {"ToolButton5", "Select font"}, {"ToolButton4", "Clear"},   {"ToolButton6", "Help"}};
    for (const auto& [name, hint] : hints) {
        auto* button = form->findChild<QToolButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(hint)) << name;
        EXPECT_EQ(button->size(), QSize(39, 38)) << name;
    }
    EXPECT_FALSE(form->findChild<QToolButton*>(QStringLiteral("ToolButton6"))->isVisibleTo(form.get()));
    // Menus: "&File" shows; the others exist with their items but stay hidden.
    const std::vector<std::pair<const char*, bool>> menus{
        {"File1", true}, {"COM1", false}, {"Language1", false}, {"Help1", false}};
    for (const auto& [name, visible] : menus) {
        auto* menu = form->findChild<QMenu*>(QString::fromLatin1(name));
        ASSERT_NE(menu, nullptr) << name;
        EXPECT_EQ(menu->menuAction()->isVisible(), visible) << name;
    }
    const std::vector<std::pair<const char*, const char*>> items{
        {"Open1", "&Open file"},  {"Save1", "&Save as\tCtrl+S"}, {"Saveas1", "&Print\tCtrl+P"},
        {"Exit1", "&Exit"},       {"Connect1", "&Connect"},      {"Disconnect1", "&Disconnect"},
        {"Setting1", "&Setting"}, {"English1", "&English"},      {"SimplifyChinese1", "&Simplified Chinese"},
        {"This1", "&Contents"},   {"About1", "&About"}};
    for (const auto& [name, caption] : items) {
        auto* item = form->findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->text(), QString::fromLatin1(caption)) << name;
    }
}

TEST_F(DisplayTest, ShortcutsWorkFromTheTextView) {
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Memo().setFocus();
    std::vector<bool> asked;
    SetFileDialogHook([&](const FileDialogRequest& request) {
        asked.push_back(request.save);
        return std::nullopt;
    });
    int printAsked = 0;
    SetPrintDialogHook([&](QPrinter&) {
        ++printAsked;
        return false;
    });
    QTest::keyClick(&Memo(), Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(&Memo(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(asked, std::vector<bool>{true});
    EXPECT_EQ(printAsked, 1);
}

} // namespace
} // namespace window
