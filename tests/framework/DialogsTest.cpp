// SPDX-License-Identifier: MIT
#include "Support.h"
#include "Text.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFontDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QTemporaryDir>

#include <atomic>
#include <fstream>
#include <optional>

using namespace support;

namespace {

using DialogsTest = FrameworkTest;

// How the user answers a real message box.
enum class Answer { Escape, Enter, CloseBox, ClickRetry };

struct BoxRow {
    const char* name;
    TMsgButtons buttons;
    int defaultButton;
    Answer answer;
    int expected;
};

void PrintTo(const BoxRow& row, std::ostream* os) {
    *os << row.name;
}

class RealMessageBoxTest : public DialogsTest, public ::testing::WithParamInterface<BoxRow> {};

TEST_P(RealMessageBoxTest, AnswerGivesResult) {
    const BoxRow& row = GetParam();
    QString shownText;
    QString shownDetail;
    ModalDriver driver({[&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        shownText = box->text();
        shownDetail = box->informativeText();
        switch (row.answer) {
        case Answer::Escape:
            QTest::keyClick(box, Qt::Key_Escape);
            break;
        case Answer::Enter:
            QTest::keyClick(box, Qt::Key_Return);
            break;
        case Answer::CloseBox:
            box->close();
            break;
        case Answer::ClickRetry:
            box->button(QMessageBox::Retry)->click();
            break;
        }
    }});
    const int result = MessageBox(nullptr, "No COM port can be opened. Retry?", "Retry", row.buttons, miQuestion,
                                  row.defaultButton, "COM1 (/dev/ttyUSB0): permission denied <dialout>");
    EXPECT_EQ(driver.Done(), 1u);
    EXPECT_EQ(result, row.expected);
    EXPECT_EQ(shownText, "No COM port can be opened. Retry?");
    EXPECT_TRUE(shownDetail.contains("permission denied &lt;dialout&gt;")) << shownDetail.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Answers, RealMessageBoxTest,
                         ::testing::Values(BoxRow{"RetryEscape", mbRetryCancel, mrRetry, Answer::Escape, mrCancel},
                                           BoxRow{"RetryCloseBox", mbRetryCancel, mrRetry, Answer::CloseBox, mrCancel},
                                           BoxRow{"RetryEnter", mbRetryCancel, mrNone, Answer::Enter, mrRetry},
                                           BoxRow{"RetryClick", mbRetryCancel, mrCancel, Answer::ClickRetry, mrRetry},
                                           BoxRow{"ClearEnterPicksCancel", mbOKCancel, mrCancel, Answer::Enter,
                                                  mrCancel},
                                           BoxRow{"ClearEscape", mbOKCancel, mrCancel, Answer::Escape, mrCancel},
                                           BoxRow{"OkEscape", mbOK, mrOk, Answer::Escape, mrOk},
                                           BoxRow{"YesNoEscape", mbYesNo, mrYes, Answer::Escape, mrNo}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogsTest, MessageBoxHookGetsRequestOnUiThread) {
    std::optional<MessageBoxRequest> seen;
    std::atomic<bool> onUiThread{false};
    SetMessageBoxHook([&](const MessageBoxRequest& request) {
        seen = request;
        onUiThread = IsUiThread();
        return mrRetry;
    });
    QWidget owner;
    std::atomic<int> result{-1};
    std::thread worker(
        [&] { result = MessageBox(&owner, "Error closing comm port.", "Tavro", mbOK, miWarning, mrOk, "why"); });
    ASSERT_TRUE(WaitUntil([&] { return result != -1; }));
    worker.join();
    EXPECT_EQ(result, mrRetry);
    EXPECT_TRUE(onUiThread);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->owner, &owner);
    EXPECT_EQ(seen->text, "Error closing comm port.");
    EXPECT_EQ(seen->caption, "Tavro");
    EXPECT_EQ(seen->buttons, mbOK);
    EXPECT_EQ(seen->icon, miWarning);
    EXPECT_EQ(seen->defaultButton, mrOk);
    EXPECT_EQ(seen->detail, "why");
}

TEST(DisplayTextTest, Utf8WhenValidOtherwiseLatin1) {
    EXPECT_EQ(DisplayText("COM1 \xE2\x80\x94 ok"), QString::fromUtf8("COM1 \xE2\x80\x94 ok"));
    EXPECT_EQ(DisplayText("Zeit \xE4"), QString::fromLatin1("Zeit \xE4"));
    EXPECT_EQ(DisplayText(std::string("a\0b", 3)).size(), 3);
}

struct FilterRow {
    std::string filter;
    QStringList expected;
};

void PrintTo(const FilterRow& row, std::ostream* os) {
    *os << "'" << row.filter << "'";
}

class FilterTest : public ::testing::TestWithParam<FilterRow> {};

TEST_P(FilterTest, TranslatesToQtNameFilters) {
    EXPECT_EQ(NameFiltersFromFilter(GetParam().filter), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterTest,
                         ::testing::Values(FilterRow{"*.txt|*.txt|All files|*.*", {"*.txt (*.txt)", "All files (*)"}},
                                           FilterRow{"Text|*.txt;*.log", {"Text (*.txt *.log)"}}, FilterRow{"", {}},
                                           FilterRow{"Text|*.txt|Dangling", {"Text (*.txt)"}},
                                           FilterRow{"Empty||Text|*.txt", {"Text (*.txt)"}}));

struct ExtRow {
    std::string typed;
    std::string ext;
    std::string expected;
};

void PrintTo(const ExtRow& row, std::ostream* os) {
    *os << "'" << row.typed << "' + '" << row.ext << "'";
}

class DefaultExtTest : public ::testing::TestWithParam<ExtRow> {};

TEST_P(DefaultExtTest, AddedOnlyWithoutExtension) {
    EXPECT_EQ(WithDefaultExt(GetParam().typed, GetParam().ext), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, DefaultExtTest,
                         ::testing::Values(ExtRow{"out", "txt", "out.txt"}, ExtRow{"out.csv", "txt", "out.csv"},
                                           ExtRow{"/tmp/a.d/out", "txt", "/tmp/a.d/out.txt"},
                                           ExtRow{"/tmp/a.d/out.log", "txt", "/tmp/a.d/out.log"},
                                           ExtRow{"out", "", "out"}, ExtRow{"", "txt", ""},
                                           ExtRow{"/tmp/dir/", "txt", "/tmp/dir/"}));

TEST_F(DialogsTest, FileDialogHookAnswersAndNameIsRemembered) {
    std::vector<FileDialogRequest> requests;
    std::vector<std::optional<std::string>> answers{"/data/run", std::nullopt, "/data/other.csv"};
    SetFileDialogHook([&](const FileDialogRequest& request) {
        requests.push_back(request);
        return answers.at(requests.size() - 1);
    });
    TSaveDialog dialog;
    dialog.Filter = "*.txt|*.txt|All files|*.*";
    dialog.DefaultExt = "txt";

    EXPECT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName, "/data/run.txt");
    EXPECT_FALSE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName, "/data/run.txt") << "cancel keeps the name";
    EXPECT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName, "/data/other.csv");

    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[0].save);
    EXPECT_EQ(requests[0].nameFilters, (QStringList{"*.txt (*.txt)", "All files (*)"}));
    EXPECT_EQ(requests[0].selectedFilter, 0);
    EXPECT_EQ(requests[0].fileName, "");
    EXPECT_EQ(requests[1].fileName, "/data/run.txt");
    EXPECT_EQ(requests[2].fileName, "/data/run.txt");
}

// What the user picks in each showing of the real save dialog, and how the prompts are answered.
struct SaveRow {
    const char* name;
    std::vector<std::string> picks; // names relative to a fresh folder
    int overwriteAnswer;
    std::string expected;
    std::vector<std::string> prompts; // captions of the boxes shown meanwhile
};

void PrintTo(const SaveRow& row, std::ostream* os) {
    *os << row.name;
}

class RealSaveDialogTest : public DialogsTest, public ::testing::WithParamInterface<SaveRow> {};

TEST_P(RealSaveDialogTest, RefusesReadOnlyAndAsksBeforeReplacing) {
    const SaveRow& row = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    std::ofstream(folder + "kept.txt") << "x";
    std::ofstream(folder + "locked.txt") << "x";
    QFile::setPermissions(QString::fromStdString(folder + "locked.txt"), QFileDevice::ReadOwner);
    CaptureMessageBoxes(row.overwriteAnswer);

    std::vector<std::function<void(QWidget*)>> steps;
    for (const std::string& pick : row.picks)
        steps.push_back([name = folder + pick](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            // Typed, as a user would: selectFile leaves a focused name field unchanged.
            auto* nameField = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(nameField, nullptr);
            nameField->setText(QString::fromStdString(name));
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept checks the name
        });
    steps.push_back([](QWidget* modal) { modal->close(); }); // a further showing is cancelled
    ModalDriver driver(steps);

    TSaveDialog dialog;
    dialog.Filter = "*.txt|*.txt|All files|*.*";
    dialog.DefaultExt = "txt";
    const bool confirmed = dialog.Execute(nullptr);
    EXPECT_EQ(confirmed, !row.expected.empty());
    if (confirmed) {
        EXPECT_EQ(dialog.FileName, folder + row.expected);
    }
    EXPECT_EQ(driver.Done(), row.picks.size() + (confirmed ? 0 : 1));
    std::vector<std::string> captions;
    for (const auto& box : boxes)
        captions.push_back(box.caption);
    EXPECT_EQ(captions, row.prompts);
}

INSTANTIATE_TEST_SUITE_P(
    Picks, RealSaveDialogTest,
    ::testing::Values(SaveRow{"NewNameGetsExtension", {"report"}, mrYes, "report.txt", {}},
                      SaveRow{"ReplaceConfirmed", {"kept.txt"}, mrYes, "kept.txt", {"Confirm Save As"}},
                      SaveRow{"ReplaceDeclined", {"kept.txt", "fresh.txt"}, mrNo, "fresh.txt", {"Confirm Save As"}},
                      SaveRow{"ReadOnlyRefused", {"locked.txt", "fresh.txt"}, mrYes, "fresh.txt", {"Save As"}},
                      SaveRow{"ReadOnlyThenCancel", {"locked"}, mrYes, "", {"Save As"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogsTest, FontAndPrintHooks) {
    std::optional<QFont> offered;
    QFont chosen("DejaVu Serif", 17);
    bool cancelFont = false;
    SetFontDialogHook([&](const QFont& initial) -> std::optional<QFont> {
        offered = initial;
        if (cancelFont)
            return std::nullopt;
        return chosen;
    });
    TFontDialog fontDialog;
    fontDialog.Font = QFont("Liberation Sans", 11);
    EXPECT_TRUE(fontDialog.Execute(nullptr));
    ASSERT_TRUE(offered);
    EXPECT_EQ(offered->family(), "Liberation Sans");
    EXPECT_EQ(fontDialog.Font, chosen);
    cancelFont = true;
    EXPECT_FALSE(fontDialog.Execute(nullptr));
    EXPECT_EQ(fontDialog.Font, chosen);

    // Confirmed without a change: a pixel-size font stays as it was, not the dialog's points.
    QFont pixels("Liberation Sans");
    pixels.setPixelSize(15);
    fontDialog.Font = pixels;
    SetFontDialogHook([](const QFont& initial) { return std::optional<QFont>(initial); });
    EXPECT_TRUE(fontDialog.Execute(nullptr));
    EXPECT_EQ(fontDialog.Font, pixels);
    EXPECT_EQ(fontDialog.Font.pixelSize(), 15);

    bool acceptPrint = true;
    SetPrintDialogHook([&](QPrinter& printer) {
        printer.setDocName("chosen");
        return acceptPrint;
    });
    TPrintDialog printDialog;
    QPrinter* printer = &printDialog.Printer();
    EXPECT_TRUE(printDialog.Execute(nullptr));
    EXPECT_EQ(printer->docName(), "chosen");
    acceptPrint = false;
    SetPrintDialogHook([&](QPrinter& seen) {
        EXPECT_EQ(&seen, printer) << "every use sets up the same printer";
        EXPECT_EQ(seen.docName(), "chosen") << "and starts from the last choice";
        return acceptPrint;
    });
    EXPECT_FALSE(printDialog.Execute(nullptr));
}

} // namespace
