// SPDX-License-Identifier: MIT
// The text view as a document: open, save as, print, font, clear, exit.
#include "WindowFixture.h"

#include <QDialog>
#include <QFontInfo>
#include <QLineEdit>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>

namespace window {
namespace {

namespace fs = std::filesystem;

class DocumentTest : public WindowTest {
protected:
    void SetUp() override {
        Plug({1});
        OpenWindow();
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path p = files.path / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Answers the next file dialog with `name` (or cancels with nullopt).
    void Choose(std::optional<std::string> name) {
        SetFileDialogHook([name](const FileDialogRequest&) { return name; });
    }
    void Open(const std::string& path) {
        Choose(path);
        Action("actFileOpen").trigger();
    }
    std::string Save(const std::string& path) {
        Choose(path);
        Action("actFileSaveAs").trigger();
        return Read(path);
    }
    void Receive(const std::string& block) { form->ReceiveGroupText(Bytes(block.begin(), block.end())); }

    TempDir files;
};

// Lines of 100 characters after a first one of 3, so that the CR of the 2571st line end is the
// last byte of the first 256 KiB.
std::string crLfAcrossPieces(const std::string& lineEnd) {
    std::string text = "xxx" + lineEnd;
    for (int i = 0; i < 2600; ++i)
        text += std::string(100, 'x') + lineEnd;
    return text;
}

TEST_F(DocumentTest, OpenAcceptsEveryLineEnd) {
    struct Row {
        std::string file;
        std::string view;
        std::string saved;
    };
    const std::vector<Row> rows{
        {"a\r\nb\r\n", "a\nb\n", "a\r\nb\r\n"},
        {"a\nb\n", "a\nb\n", "a\r\nb\r\n"},
        {"a\rb\r", "a\nb\n", "a\r\nb\r\n"},
        {"a\n\r\nb", "a\n\nb", "a\r\n\r\nb"},
        {"a\r\rb\n\n", "a\n\nb\n\n", "a\r\n\r\nb\r\n\r\n"},
        {std::string("text\0more\r\n", 11), "text", "text"},
        {std::string("\0", 1), "", ""},
        {"", "", ""},
        {"\x80\x81\xA0\xE9\xFF\tx\r\n", "\x80\x81\xA0\xE9\xFF\tx\n", "\x80\x81\xA0\xE9\xFF\tx\r\n"},
        // A CR LF cut between the two first pieces the view is written in (256 KiB each).
        {crLfAcrossPieces("\r\n"), crLfAcrossPieces("\n"), crLfAcrossPieces("\r\n")},
    };
    int i = 0;
    for (const Row& row : rows) {
        Open(Write("in" + std::to_string(i) + ".txt", row.file));
        EXPECT_EQ(ViewText(), row.view) << i;
        EXPECT_EQ(Save((files.path / ("out" + std::to_string(i) + ".txt")).string()), row.saved) << i;
        ++i;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DocumentTest, EveryByteSurvivesOpenAndSave) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        if (c != '\r' && c != '\n')
            all += static_cast<char>(c);
    const std::string file = all + "\r\n" + all + "\r\n";
    Open(Write("bytes.txt", file));
    EXPECT_EQ(Save((files.path / "bytes-out.txt").string()), file);
}

TEST_F(DocumentTest, OpenKeepsCounterAndGroupsFollowTheFile) {
    Receive("group one\r");
    Open(Write("old.txt", "line 1\r\nline 2\r\n"));
    EXPECT_EQ(Label(), "   1 group(s) received data");
    Receive("group two\r");
    EXPECT_EQ(ViewText(), "line 1\nline 2\ngroup two\n");
    EXPECT_EQ(Label(), "   2 group(s) received data");
}

TEST_F(DocumentTest, OpenFailuresLeaveTheViewAlone) {
    Receive("kept\r");
    Open((files.path / "missing.txt").string());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + (files.path / "missing.txt").string());
    EXPECT_EQ(ViewText(), "kept\n");
    // Cancelling is not an error.
    Choose(std::nullopt);
    Action("actFileOpen").trigger();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ViewText(), "kept\n");
}

// The open converts its text piece by piece: a cut anywhere, also inside a CR LF, gives the
// text the whole would.
TEST(ViewTextConverterTest, AnyCutGivesTheWholeText) {
    const std::vector<std::string> texts{"a\r\nb", "\r\n\r\n", "a\r\rb\n\n", "x\r",
                                         "\n\r",   "",         "abc\r\n",    "\x80\xFF\r\n\t\r"};
    for (const std::string& text : texts) {
        const bool endsWithLineEnd = !text.empty() && (text.back() == '\r' || text.back() == '\n');
        const QString whole = JoinLines(SplitTextLines(text.data(), text.size()), endsWithLineEnd);
        for (std::size_t cut = 0; cut <= text.size(); ++cut)
            for (std::size_t second = cut; second <= text.size(); ++second) {
                TViewTextConverter converter;
                QString pieces = converter.Convert(text.data(), cut);
                pieces += converter.Convert(text.data() + cut, second - cut);
                pieces += converter.Convert(text.data() + second, text.size() - second);
                EXPECT_EQ(pieces, whole) << ::testing::PrintToString(text) << " cut " << cut << ", " << second;
            }
    }
}

// Long opens run the receivers' calls between their pieces. Whenever a group arrives, the view
// ends as the file followed by the group (or, cancelled, as it was followed by the group).
struct OpenRow {
    const char* name;
    std::string oldView; // the view's text before the open ('\n' between lines)
    std::string file;
};

void PrintTo(const OpenRow& row, std::ostream* os) {
    *os << row.name;
}

std::string manyLines(const std::string& stem, int count, const char* lineEnd) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += stem + std::to_string(i) + lineEnd;
    return text;
}

// `view` (the view's text) with `lines` appended as the view appends a group's lines.
std::string appended(const std::string& view, const std::vector<std::string>& lines) {
    std::string text = view;
    const bool endsWithLineEnd = view.empty() || view.back() == '\n';
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!endsWithLineEnd || i > 0)
            text += endsWithLineEnd ? "" : "\n";
        text += lines[i] + (endsWithLineEnd ? "\n" : "");
    }
    return text;
}

class OpenWhileReceivingTest : public DocumentTest, public ::testing::WithParamInterface<OpenRow> {
protected:
    // Opens the row's file while a group arrives at pump `arriveAt` (0: none) and the user
    // presses Cancel at pump `cancelAt` (0: never); returns the number of pumps, and whether
    // the cancel was still possible.
    std::pair<int, bool> OpenWith(int arriveAt, int cancelAt) {
        Memo().setPlainText(QString::fromLatin1(GetParam().oldView));
        int pumps = 0;
        bool cancellable = false;
        TLongWork::SetTiming({0ms, 0ms});
        TLongWork::SetHook([&](TLongWork& work) {
            ++pumps;
            if (pumps == 1) {
                EXPECT_EQ(work.Dialog()->labelText(), "Opening in.txt");
            }
            if (pumps == arriveAt)
                Receive("MCH:\t001\r\rEnd\r");
            if (pumps == cancelAt) {
                cancellable = work.Dialog()->findChild<QPushButton*>()->isEnabled();
                work.Dialog()->findChild<QPushButton*>()->click();
            }
        });
        Open(path);
        TLongWork::SetHook({});
        return {pumps, cancellable};
    }
    void SetUp() override {
        DocumentTest::SetUp();
        path = Write("in.txt", GetParam().file);
        Open(path);
        const std::string fileView = ViewText();
        fileViewLines = fileView;
    }
    std::string path;
    std::string fileViewLines;
};

TEST_P(OpenWhileReceivingTest, ArrivalsFollowTheFileOrTheOldText) {
    const std::string fileView = fileViewLines;
    const std::vector<std::string> group{"MCH:\t001", "", "End"};
    const int pumps = OpenWith(0, 0).first;
    ASSERT_GE(pumps, 1);
    EXPECT_EQ(ViewText(), fileView);
    for (int at = 1; at <= pumps; ++at) {
        OpenWith(at, 0);
        EXPECT_EQ(ViewText(), appended(fileView, group)) << "group at pump " << at;
        const auto [_, cancellable] = OpenWith(at, at);
        EXPECT_EQ(ViewText(), appended(cancellable ? GetParam().oldView : fileView, group))
            << "group and cancel at pump " << at;
    }
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Shapes, OpenWhileReceivingTest,
                         ::testing::Values(OpenRow{"Small", "a\n", "b\r\n"},
                                           OpenRow{"BothEndWithLineEnds", manyLines("old", 40000, "\n"),
                                                   manyLines("new", 40000, "\r\n")},
                                           OpenRow{"NeitherEndsWithLineEnd", manyLines("old", 40000, "\n") + "last",
                                                   manyLines("new", 40000, "\n") + "end"},
                                           OpenRow{"EmptyViewLoneCrs", "", manyLines("new", 50000, "\r")},
                                           OpenRow{"EmptyFile", manyLines("old", 20000, "\n"), ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// Save writes the view as it was when the save began; groups that arrive meanwhile are shown.
TEST_F(DocumentTest, SaveWritesTheViewOfItsStart) {
    struct Row {
        std::string view;
        std::string saved;
    };
    const std::vector<Row> rows{{"a\nb\n", "a\r\nb\r\n"}, {"a\nb", "a\r\nb"}, {"", ""}, {"\n", "\r\n"}};
    TLongWork::SetTiming({0ms, 0ms});
    for (const Row& row : rows) {
        Memo().setPlainText(QString::fromLatin1(row.view));
        bool arrived = false;
        TLongWork::SetHook([&](TLongWork&) {
            if (!arrived)
                Receive("late\r");
            arrived = true;
        });
        const std::string saved = Save((files.path / "view.txt").string());
        EXPECT_EQ(saved, row.saved) << ::testing::PrintToString(row.view);
        EXPECT_EQ(MemoLines().back(), "late");
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DocumentTest, CancelledSaveLeavesTheOldFile) {
    const std::string target = Write("report.txt", "old contents\r\n");
    Receive("new contents\r");
    TLongWork::SetTiming({0ms, 0ms});
    TLongWork::SetHook([](TLongWork& work) { work.Dialog()->findChild<QPushButton*>()->click(); });
    EXPECT_EQ(Save(target), "old contents\r\n");
    EXPECT_TRUE(boxes.empty());
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(files.path))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"report.txt"});
}

// What the view cannot show is refused before the view changes: too much text, or a line that
// would keep the window busy for minutes (a raw capture opened by mistake has no line breaks).
TEST_F(DocumentTest, OverlongTextIsRefused) {
    struct Row {
        std::string name;
        std::function<void(std::ofstream&)> write;
        std::string refusal; // empty: opens
        std::size_t viewBytes = 0;
    };
    const std::string longLine(longestLineBytes, 'x');
    const std::vector<Row> rows{
        {"capacity",
         [](std::ofstream& out) {
             const std::string line(1023, 'x');
             for (std::int64_t written = 0; written <= TMainForm::memoCapacityBytes; written += 1024)
                 out << line << '\n';
         },
         "Text exceeds memo capacity"},
        {"no line breaks", [](std::ofstream& out) { out << std::string(4 << 20, '\xAB'); }, "line 1"},
        {"second line", [&](std::ofstream& out) { out << "a\r\n"
                                                      << longLine << "y\r\n"; }, "line 2"},
        {"longest that opens", [&](std::ofstream& out) { out << longLine << "\r\n"
                                                             << longLine; }, "",
         2 * longestLineBytes + 1},
        {"long after the text's end", [&](std::ofstream& out) { out << "a" << '\0' << longLine << longLine; }, "", 1},
    };
    for (const Row& row : rows) {
        boxes.clear();
        Memo().clear();
        Receive("kept\r");
        const std::string path = (files.path / "huge.txt").string();
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            row.write(out);
        }
        Open(path);
        if (row.refusal.empty()) {
            EXPECT_TRUE(boxes.empty()) << row.name;
            EXPECT_EQ(ViewText().size(), row.viewBytes) << row.name;
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u) << row.name;
        EXPECT_NE(boxes[0].text.find(row.refusal), std::string::npos) << row.name << ": " << boxes[0].text;
        EXPECT_EQ(ViewText(), "kept\n") << row.name;
    }
}

TEST_F(DocumentTest, SaveWritesTheViewExactly) {
    Receive("MCH:       \t007\r\rRecord Date:\t\r");
    Receive("x\r");
    const std::string saved = Save((files.path / "report.txt").string());
    EXPECT_EQ(saved, "MCH:       \t007\r\n\r\nRecord Date:\t\r\nx\r\n");
    // An empty view gives an empty file, replacing what was there.
    Memo().clear();
    EXPECT_EQ(Save((files.path / "report.txt").string()), "");
    EXPECT_TRUE(fs::exists(files.path / "report.txt"));
}

TEST_F(DocumentTest, SaveAddsTheDefaultExtension) {
    Receive("a\r");
    SetFileDialogHook([&](const FileDialogRequest& request) {
        EXPECT_TRUE(request.save);
        EXPECT_EQ(request.defaultExt, "txt");
        return std::optional<std::string>((files.path / "noext").string());
    });
    Action("actFileSaveAs").trigger();
    EXPECT_EQ(Read((files.path / "noext.txt").string()), "a\r\n");
    Choose((files.path / "with.log").string());
    Action("actFileSaveAs").trigger();
    EXPECT_EQ(Read((files.path / "with.log").string()), "a\r\n");
}

TEST_F(DocumentTest, FailedSaveKeepsTheOldFile) {
    const fs::path folder = files.path / "locked";
    fs::create_directories(folder);
    const std::string target = (folder / "report.txt").string();
    Write("locked/report.txt", "old contents\r\n");
    Receive("new contents\r");

    // A full disk: the file size limit stops the write part way.
    {
        std::string big(256 * 1024, 'y');
        Receive(big + "\r");
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction previous {};
        sigaction(SIGXFSZ, &ignore, &previous);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
        Choose(target);
        Action("actFileSaveAs").trigger();
        setrlimit(RLIMIT_FSIZE, &old);
        sigaction(SIGXFSZ, &previous, nullptr);
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot create file " + target);
    EXPECT_EQ(Read(target), "old contents\r\n");

    // A folder that cannot be written to (root ignores permission bits, so unless the test
    // runs as an ordinary user the folder is made a file's place instead: a missing folder).
    if (::geteuid() != 0) {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        Choose(target);
        Action("actFileSaveAs").trigger();
        fs::permissions(folder, fs::perms::owner_all);
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1].text, "Cannot create file " + target);
        EXPECT_EQ(Read(target), "old contents\r\n");
    }
    const std::string nowhere = (files.path / "no-such-folder" / "report.txt").string();
    Choose(nowhere);
    Action("actFileSaveAs").trigger();
    EXPECT_EQ(boxes.back().text, "Cannot create file " + nowhere);
    // No temporary file is left behind.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"report.txt"});
}

TEST_F(DocumentTest, ClearAsksFirst) {
    Receive("a\r");
    Receive("b\r");
    answers = {mrCancel};
    Action("actClear").trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to clear data?");
    EXPECT_EQ(boxes[0].caption, "Clear data ?");
    EXPECT_EQ(boxes[0].buttons, mbOKCancel);
    EXPECT_EQ(boxes[0].icon, miQuestion);
    EXPECT_EQ(boxes[0].defaultButton, mrCancel);
    EXPECT_EQ(ViewText(), "a\nb\n");
    EXPECT_EQ(Label(), "   2 group(s) received data");

    answers = {mrOk};
    Action("actClear").trigger();
    EXPECT_EQ(ViewText(), "");
    EXPECT_EQ(Label(), "");
    form->Actions().UpdateAll();
    EXPECT_FALSE(Action("actClear").isEnabled());
    Receive("c\r");
    EXPECT_EQ(Label(), "   1 group(s) received data");
}

TEST_F(DocumentTest, FontIsTakenWhole) {
    QFont chosen(QStringLiteral("DejaVu Serif"));
    chosen.setPointSize(17);
    chosen.setItalic(true);
    QFont offered;
    SetFontDialogHook([&](const QFont& initial) {
        offered = initial;
        return std::optional<QFont>(chosen);
    });
    Action("actSetFont").trigger();
    // The dialog starts on the font as shown: the family "Arial" resolves to, 15 pixels in
    // points.
    EXPECT_EQ(offered.family(), QFontInfo(QFont(QStringLiteral("Arial"))).family());
    EXPECT_DOUBLE_EQ(offered.pointSizeF(), 15 * 72.0 / Memo().logicalDpiY());
    EXPECT_EQ(Memo().font(), chosen);
    SetFontDialogHook([](const QFont&) { return std::optional<QFont>(); });
    Action("actSetFont").trigger();
    EXPECT_EQ(Memo().font(), chosen);
}

// The real font dialog: confirming without a change leaves the view's font exactly as it was.
struct FontRow {
    const char* name;
    const char* size; // typed into the size field; null: left as offered
    bool accept;
    int pointSize; // of the view's font afterwards; 0: the view keeps its own font
};

void PrintTo(const FontRow& row, std::ostream* os) {
    *os << row.name;
}

class FontDialogTest : public DocumentTest, public ::testing::WithParamInterface<FontRow> {};

TEST_P(FontDialogTest, RoundTrip) {
    const FontRow& row = GetParam();
    const QFont before = Memo().font();
    QStringList shown;
    WhenModalShown([&](QWidget& dialog) {
        const auto edits = dialog.findChildren<QLineEdit*>();
        for (QLineEdit* edit : edits)
            shown << edit->text();
        if (row.size)
            edits.at(2)->setText(QString::fromLatin1(row.size));
        if (row.accept)
            static_cast<QDialog&>(dialog).accept();
        else
            static_cast<QDialog&>(dialog).reject();
    });
    Action("actSetFont").trigger();
    ASSERT_GE(shown.size(), 3);
    EXPECT_EQ(shown[0], QFontInfo(before).family()) << "starts on the family shown";
    EXPECT_EQ(shown[2], QStringLiteral("11")) << "15 px at 96 dpi are 11.25 pt, and the dialog shows whole points";
    if (row.pointSize == 0) {
        EXPECT_EQ(Memo().font(), before);
        EXPECT_EQ(Memo().font().pixelSize(), 15);
    } else {
        EXPECT_EQ(Memo().font().pointSize(), row.pointSize);
        EXPECT_EQ(Memo().font().family(), QFontInfo(before).family());
    }
}

INSTANTIATE_TEST_SUITE_P(Choices, FontDialogTest,
                         ::testing::Values(FontRow{"OkUnchanged", nullptr, true, 0},
                                           FontRow{"OtherSize", "14", true, 14}, FontRow{"Cancelled", "14", false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DocumentTest, ExitClosesWithoutAsking) {
    Receive("unsaved\r");
    form->show();
    form->findChild<QAction*>(QStringLiteral("Exit1"))->trigger();
    EXPECT_TRUE(application->Terminated());
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace window
