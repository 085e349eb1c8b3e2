// SPDX-License-Identifier: MIT
// The lines a view keeps itself: appending as the view's line list does, text split at every
// kind of line end however it is cut, and the text given back as it is saved.
#include "TextLines.h"
#include "TextRules.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct TAppendCase {
    const char* name;
    const char* before; // given with AppendText
    std::vector<std::string> appended;
    const char* text; // Text() afterwards
    int count;
};

TEST(TextLines, AppendsAsTheViewsLineList) {
    const TAppendCase cases[] = {
        {"to nothing", "", {"a", "b"}, "a\r\nb\r\n", 2},
        {"after a line end", "x\n", {"a"}, "x\r\na\r\n", 2},
        {"after an unended line", "x", {"a", "b"}, "x\r\na\r\nb", 3},
        {"an empty line", "x\r\n", {""}, "x\r\n\r\n", 2},
        {"nothing", "x", {}, "x", 1},
        {"after empty lines", "\n\n", {"a"}, "\r\n\r\na\r\n", 3},
    };
    for (const TAppendCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTextLines lines;
        lines.AppendText(c.before);
        lines.Append(c.appended);
        EXPECT_EQ(lines.Text(), c.text);
        EXPECT_EQ(lines.Count(), c.count);
        EXPECT_EQ(lines.Bytes(), static_cast<std::int64_t>(std::string(c.text).size()));
    }
}

// Any text cut anywhere gives the lines a file's text gives, and the same final line end.
TEST(TextLines, TextCutAnywhereGivesTheLinesOfTheWhole) {
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\t', ' '};
    for (int round = 0; round < 500; ++round) {
        std::string text(random() % 40, 'a');
        for (char& c : text)
            c = alphabet[random() % sizeof alphabet];
        TTextLines lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t piece = 1 + random() % 4;
            lines.AppendText(std::string_view(text).substr(at, piece));
            at += piece;
        }
        SCOPED_TRACE(testing::PrintToString(text));
        const std::vector<std::string> expected = SplitLines(text.data(), text.size());
        ASSERT_EQ(lines.Count(), static_cast<int>(expected.size()));
        for (int line = 0; line < lines.Count(); ++line)
            EXPECT_EQ(lines.Line(line), expected[static_cast<std::size_t>(line)]);
        EXPECT_EQ(lines.EndsWithLineEnd(), !text.empty() && (text.back() == '\r' || text.back() == '\n'));
        EXPECT_EQ(static_cast<std::int64_t>(lines.Text().size()), lines.Bytes());
        if (lines.Count() > 0) {
            EXPECT_EQ(lines.LinesText(0, lines.Count()), lines.Text() + (lines.EndsWithLineEnd() ? "" : "\r\n"));
        }
    }
}

TEST(TextLines, ClearLeavesNothing) {
    TTextLines lines;
    lines.AppendText("ab\r\nabcdef\nabc\r");
    lines.Append({"abcdefgh"});
    EXPECT_EQ(lines.Line(3), "abcdefgh");
    EXPECT_EQ(lines.Line(4), "");
    lines.Clear();
    EXPECT_EQ(lines.Count(), 0);
    EXPECT_EQ(lines.Text(), "");
    lines.AppendText("\n");
    EXPECT_EQ(lines.Text(), "\r\n"); // nothing of the cleared text is left over
}

} // namespace
