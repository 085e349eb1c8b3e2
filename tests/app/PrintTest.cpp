// SPDX-License-Identifier: MIT
// Printing, checked on PDF output with poppler's tools.
#include "WindowFixture.h"

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

namespace window {
namespace {

namespace fs = std::filesystem;

struct Word {
    int page;
    double xMin, yMin;
    std::string text;
};

std::string runCommand(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    pclose(pipe);
    return out;
}

// Every word of the PDF with its page and position (points from the page's top left).
std::vector<Word> wordsOf(const std::string& pdf) {
    const std::string html = runCommand("pdftotext -bbox \"" + pdf + "\" - 2>/dev/null");
    std::vector<Word> words;
    int page = 0;
    static const QRegularExpression wordPattern(
        QStringLiteral(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="[\d.]+" yMax="[\d.]+">([^<]*)</word>)re"));
    for (const QString& line : QString::fromUtf8(html.c_str()).split(QLatin1Char('\n'))) {
        if (line.contains(QLatin1String("<page ")))
            ++page;
        const auto match = wordPattern.match(line);
        if (match.hasMatch())
            words.push_back(
                {page, match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3).toStdString()});
    }
    return words;
}

// Page 1 of the PDF as an image at 72 dots per inch (one pixel per point).
QImage firstPage(const std::string& pdf, const fs::path& folder) {
    const std::string prefix = (folder / "page").string();
    runCommand("pdftoppm -r 72 -png -f 1 -l 1 \"" + pdf + "\" \"" + prefix + "\"");
    QImage page;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".png")
            page.load(QString::fromStdString(entry.path().string()));
    return page;
}

int pageCount(const std::string& pdf) {
    const std::string info = runCommand("pdfinfo \"" + pdf + "\" 2>/dev/null");
    const auto at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

class PrintTest : public WindowTest {
protected:
    void SetUp() override {
        if (runCommand("for t in pdftotext pdfinfo pdftoppm; do command -v $t; done | wc -l") != "3\n")
            GTEST_SKIP() << "poppler-utils (pdftotext, pdfinfo, pdftoppm) are needed";
        Plug({1});
        OpenWindow();
        pdf = (files.path / "out.pdf").string();
        SetPrintDialogHook([this](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(pdf));
            printer.setPageSize(QPageSize(QPageSize::A4));
            resolution = printer.resolution();
            paintRect = printer.pageLayout().paintRectPoints();
            return true;
        });
    }
    void Show(const std::vector<std::string>& lines) {
        std::string block;
        for (const std::string& line : lines)
            block += line + "\r";
        form->ReceiveGroupText(Bytes(block.begin(), block.end()));
    }

    TempDir files;
    std::string pdf;
    int resolution = 0;
    QRect paintRect;
};

TEST_F(PrintTest, LinesFillPagesFromTheTopMargin) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 150; ++i)
        lines.push_back("line" + std::to_string(i));
    Show(lines);
    Action("actPrint").trigger();
    ASSERT_TRUE(boxes.empty()) << boxes[0].text;

    const std::vector<Word> words = wordsOf(pdf);
    ASSERT_EQ(words.size(), lines.size());
    const int pages = pageCount(pdf);
    ASSERT_GE(pages, 3);

    // Lines are in order, each page starts at the same height (the top margin), and the lines
    // of a page are evenly spaced by the printer font's line height.
    const double unit = 72.0 / resolution; // points per printer device unit
    QFont font = Memo().font();
    font.setPointSizeF(font.pixelSize() * 72.0 / Memo().logicalDpiY());
    QPrinter probe(QPrinter::HighResolution);
    const double lineHeight = QFontMetrics(font, &probe).height() * unit;
    const double pageHeight = paintRect.height();
    const double marginTop = paintRect.top() + 100 * unit;
    int perPageExpected = 0;
    while ((perPageExpected + 1) * lineHeight + 100 * unit < pageHeight - 100 * unit - lineHeight + 0.001)
        ++perPageExpected;
    ++perPageExpected; // the line at n = 0 counts too

    double firstTop = -1;
    for (std::size_t i = 0; i < words.size(); ++i) {
        EXPECT_EQ(words[i].text, lines[i]);
        const bool first = i == 0 || words[i].page != words[i - 1].page;
        if (first) {
            if (firstTop < 0)
                firstTop = words[i].yMin;
            EXPECT_NEAR(words[i].yMin, firstTop, 0.5) << "page " << words[i].page;
            EXPECT_GE(words[i].yMin, marginTop - 0.5);
            EXPECT_LT(words[i].yMin, marginTop + lineHeight);
        } else {
            EXPECT_NEAR(words[i].yMin - words[i - 1].yMin, lineHeight, 0.5) << lines[i];
        }
        // No line's bottom reaches the bottom margin.
        EXPECT_LT(words[i].yMin, paintRect.top() + pageHeight - 100 * unit);
    }
    for (int page = 1; page < pages; ++page) {
        const auto count = std::count_if(words.begin(), words.end(), [&](const Word& w) { return w.page == page; });
        EXPECT_EQ(count, perPageExpected) << "page " << page;
    }
}

TEST_F(PrintTest, TabsExpandAndLongLinesAreCut) {
    Show({"left\tmiddle\tright", std::string(3000, 'W')});
    Action("actPrint").trigger();
    const std::vector<Word> words = wordsOf(pdf);
    std::vector<std::string> texts;
    for (const Word& w : words)
        texts.push_back(w.text);
    ASSERT_GE(texts.size(), 3u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[0], "left");
    EXPECT_EQ(texts[1], "middle");
    EXPECT_EQ(texts[2], "right");
    // Tab stops every eight average character widths of the printer font.
    QFont font = Memo().font();
    font.setPointSizeF(font.pixelSize() * 72.0 / Memo().logicalDpiY());
    QPrinter probe(QPrinter::HighResolution);
    const double tabStop = 8 * QFontMetricsF(font, &probe).averageCharWidth() * 72.0 / resolution;
    EXPECT_NEAR(words[1].xMin - words[0].xMin, tabStop, 1.0);
    EXPECT_NEAR(words[2].xMin - words[0].xMin, 2 * tabStop, 1.0);

    // Nothing is drawn right of the right margin.
    const QImage page = firstPage(pdf, files.path);
    ASSERT_FALSE(page.isNull());
    const double unit = 72.0 / resolution;
    const int rightEdge = static_cast<int>(paintRect.left() + paintRect.width() - 100 * unit) + 1;
    int inked = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = rightEdge + 1; x < page.width(); ++x)
            if (qGray(page.pixel(x, y)) < 200)
                ++inked;
    EXPECT_EQ(inked, 0);
    int inkedInside = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < rightEdge; ++x)
            if (qGray(page.pixel(x, y)) < 200)
                ++inkedInside;
    EXPECT_GT(inkedInside, 0);
}

TEST_F(PrintTest, EmptyViewPrintsOneEmptyPage) {
    Action("actPrint").trigger();
    EXPECT_EQ(pageCount(pdf), 1);
    EXPECT_TRUE(wordsOf(pdf).empty());
}

TEST_F(PrintTest, CancelPrintsNothing) {
    Show({"x"});
    SetPrintDialogHook([](QPrinter&) { return false; });
    Action("actPrint").trigger();
    EXPECT_FALSE(fs::exists(pdf));
    EXPECT_TRUE(boxes.empty());
}

// Paper is white, so the ink is black whatever colours the desktop's theme gives the view.
struct PaletteRow {
    const char* name;
    QColor text; // the view's text colour; invalid: the usual palette
    QColor base;
};

void PrintTo(const PaletteRow& row, std::ostream* os) {
    *os << row.name;
}

class PrintColourTest : public PrintTest, public ::testing::WithParamInterface<PaletteRow> {};

TEST_P(PrintColourTest, InkIsBlack) {
    const QPalette before = QApplication::palette();
    QPalette theme = before;
    if (GetParam().text.isValid()) {
        theme.setColor(QPalette::Text, GetParam().text);
        theme.setColor(QPalette::WindowText, GetParam().text);
        theme.setColor(QPalette::Base, GetParam().base);
        theme.setColor(QPalette::Window, GetParam().base);
    }
    QApplication::setPalette(theme);
    QApplication::processEvents();
    Show({"MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM", "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"});
    Action("actPrint").trigger();
    QApplication::setPalette(before);
    const QImage page = firstPage(pdf, files.path);
    ASSERT_FALSE(page.isNull());
    int darkest = 255;
    int inked = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const int grey = qGray(page.pixel(x, y));
            darkest = std::min(darkest, grey);
            inked += grey < 128 ? 1 : 0;
        }
    EXPECT_LT(darkest, 60);
    EXPECT_GT(inked, 100);
}

INSTANTIATE_TEST_SUITE_P(Themes, PrintColourTest,
                         ::testing::Values(PaletteRow{"Light", QColor(), QColor()},
                                           PaletteRow{"Dark", QColor(Qt::white), QColor(0x20, 0x20, 0x20)},
                                           PaletteRow{"DarkGreyText", QColor(0xc0, 0xc0, 0xc0),
                                                      QColor(0x30, 0x30, 0x30)}),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<std::string> numberedLines(int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i)
        lines.push_back("line" + std::to_string(i));
    return lines;
}

// Waits for `ready` without running any event or queued call.
bool holdUntil(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// The timer does not wait for a long print: its group is shown and answered meanwhile, once,
// and printed after the lines that were there.
TEST_F(PrintTest, GroupArrivingMeanwhileIsShownAnsweredAndPrinted) {
    const std::vector<std::string> lines = numberedLines(3000);
    Show(lines);
    const int shownBefore = form->GroupCount();
    TLongWork::SetTiming({0ms, 0ms});
    std::set<std::string> labels;
    bool sent = false;
    bool held = true;
    Bytes reply;
    TLongWork::SetHook([&](TLongWork& work) {
        labels.insert(work.Dialog()->labelText().toStdString());
        if (!sent) {
            sent = true;
            Port(1).Send(example::groupBytes);
            // The print stops here, running nothing, until the receiver has handed its call
            // over: only the print's own pumps can run it.
            held = holdUntil([] { return PendingUiCallCount() > 0; });
        }
        if (form->GroupCount() > shownBefore && reply.empty())
            holdUntil([&] { return !(reply = Port(1).Receive(1, 0ms)).empty(); });
    });
    Action("actPrint").trigger();
    ASSERT_TRUE(held);
    EXPECT_EQ(reply, Bytes{0xFA}) << "answered while the print ran";
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->GroupCount(), shownBefore + 1);
    EXPECT_TRUE(Collect(1, 1, 300).empty()) << "answered once";

    std::vector<std::string> expected = lines;
    expected.insert(expected.end(), example::reportLines.begin(), example::reportLines.end());
    EXPECT_EQ(MemoLines(), expected);
    std::vector<std::string> printed;
    for (const Word& word : wordsOf(pdf))
        printed.push_back(word.text);
    ASSERT_GT(printed.size(), lines.size());
    EXPECT_EQ(std::vector<std::string>(printed.begin(), printed.begin() + 3000), lines);
    EXPECT_EQ(printed[3000], "MCH:");
    EXPECT_EQ(std::count(printed.begin(), printed.end(), "MCH:"), 1);
    const int pages = pageCount(pdf);
    ASSERT_GE(pages, 2);
    for (int p = 1; p <= pages; ++p)
        EXPECT_EQ(labels.count("Printing page " + std::to_string(p)), 1u) << p;
}

TEST_F(PrintTest, CancelEndsAValidFileWithThePagesSoFar) {
    Show(numberedLines(3000));
    TLongWork::SetTiming({0ms, 0ms});
    TLongWork::SetHook([](TLongWork& work) {
        if (work.Text() == "Printing page 3")
            work.Dialog()->findChild<QPushButton*>()->click();
    });
    Action("actPrint").trigger();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(pageCount(pdf), 3);
    const std::vector<Word> words = wordsOf(pdf);
    ASSERT_FALSE(words.empty());
    EXPECT_LT(words.size(), 3000u);
    EXPECT_EQ(words.back().page, 3);
    EXPECT_EQ(words.back().text, "line" + std::to_string(words.size())) << "lines in order, none lost before";
}

// The real print dialog starts with what was chosen in it last time.
TEST_F(PrintTest, DialogRemembersTheChoice) {
    SetPrintDialogHook({});
    const std::string chosen = (files.path / "chosen.pdf").string();
    bool toFile = false;
    WhenModalShown([&](QWidget& dialog) {
        auto* printers = dialog.findChild<QComboBox*>(QStringLiteral("printers"));
        const int file = printers ? printers->findText(QStringLiteral("Print to File (PDF)")) : -1;
        toFile = file >= 0;
        if (!toFile) {
            static_cast<QDialog&>(dialog).reject(); // never print on a real printer here
            return;
        }
        printers->setCurrentIndex(file);
        dialog.findChild<QLineEdit*>(QStringLiteral("filename"))->setText(QString::fromStdString(chosen));
        dialog.findChild<QSpinBox*>(QStringLiteral("copies"))->setValue(2);
        static_cast<QDialog&>(dialog).accept();
    });
    Show({"x"});
    Action("actPrint").trigger();
    if (!toFile)
        GTEST_SKIP() << "this Qt's print dialog has no print-to-file choice";
    ASSERT_TRUE(fs::exists(chosen));

    QString shownFile;
    int shownCopies = 0;
    WhenModalShown([&](QWidget& dialog) {
        shownFile = dialog.findChild<QLineEdit*>(QStringLiteral("filename"))->text();
        shownCopies = dialog.findChild<QSpinBox*>(QStringLiteral("copies"))->value();
        static_cast<QDialog&>(dialog).reject();
    });
    Action("actPrint").trigger();
    EXPECT_EQ(shownFile.toStdString(), chosen);
    EXPECT_EQ(shownCopies, 2);
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace window
