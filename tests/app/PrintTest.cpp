// SPDX-License-Identifier: MIT
// Printing, checked on PDF output with poppler's tools.
#include "WindowFixture.h"

#include <QFontMetrics>
#include <QImage>
#include <QPrinter>
#include <QRegularExpression>

#include <cstdio>
#include <fstream>
#include <iterator>

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
    const std::string png = (files.path / "page").string();
    runCommand("pdftoppm -r 72 -png -f 1 -l 1 \"" + pdf + "\" \"" + png + "\"");
    QImage page;
    for (const auto& entry : fs::directory_iterator(files.path))
        if (entry.path().extension() == ".png")
            page.load(QString::fromStdString(entry.path().string()));
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

} // namespace
} // namespace window
