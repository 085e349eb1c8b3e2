// SPDX-License-Identifier: MIT
#include "ReportParser.h"
#include "GroupFromDecoder.h"

#include "ReceivedData.h"
#include "WorkedExample.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using exporter::GroupRow;
using exporter::Problem;
using exporter::ReportParser;
using Lines = std::vector<std::string>;

const std::string hyphens(72, '-');

struct Parsed {
    std::vector<GroupRow> groups;
    std::vector<std::size_t> firstLines;
    std::vector<Problem> problems;
};

// Feeds text in pieces of `piece` bytes (0: all at once).
Parsed parse(const std::string& text, std::size_t piece = 0) {
    Parsed p;
    ReportParser parser(
        [&](const GroupRow& g, std::size_t line) {
            p.groups.push_back(g);
            p.firstLines.push_back(line);
        },
        [&](const Problem& problem) { p.problems.push_back(problem); });
    if (piece == 0)
        piece = text.size() + 1;
    for (std::size_t at = 0; at < text.size(); at += piece)
        parser.Feed(std::string_view(text).substr(at, piece));
    parser.Finish();
    return p;
}

std::string join(const Lines& lines, const std::string& lineEnd) {
    std::string text;
    for (const std::string& line : lines)
        text += line + lineEnd;
    return text;
}

Lines concat(std::initializer_list<Lines> parts) {
    Lines out;
    for (const Lines& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The worked example's group: number 7, Thursday 2007-11-22, two laps.
const Lines& exampleHead = example::twoLapReportHead;
const Lines exampleWithStatistics =
    concat({exampleHead,
            {"", "Average Lap Time:   \t0:01'00.06", "Fastest Lap Time:   \t0:00'58.10",
             "Slowest Lap Time:   \t0:01'02.03", "", "End Time:       \t0:02'00.13", hyphens, ""}});
const Lines exampleWithoutStatistics = concat({exampleHead, {"", "", "End Time:       \t ", hyphens, ""}});

const GroupRow exampleRow{
    "007",        "2007-11-22", "Thursday",   {{1, "0:01'02.03", "0:01'02.03"}, {2, "0:00'58.10", "0:02'00.13"}},
    "0:01'00.06", "0:00'58.10", "0:01'02.03", "0:02'00.13"};
GroupRow exampleRowWithoutStatistics() {
    GroupRow row = exampleRow;
    row.average = row.fastest = row.slowest = row.endTime = "";
    return row;
}

// A block with only a number and an end time, for the rows about what lies between blocks.
Lines smallBlock(const std::string& number) {
    return {"MCH:       \t" + number, "", "Record Date:\t", "", "", "End Time:       \t0:10'00.00", hyphens, ""};
}
GroupRow smallRow(const std::string& number) {
    GroupRow row;
    row.group = number;
    row.endTime = "0:10'00.00";
    return row;
}

Lines manyLaps(unsigned count) {
    Lines lines{"MCH:       \t123", "", "Record Date:\t2024-05-14\tTuesday"};
    for (unsigned i = 1; i <= count; ++i) {
        lines.push_back("");
        lines.push_back("Lap" + std::to_string(i) + ":\t0:01'00.00\tSplit" + std::to_string(i) + ":\txxxxxxx");
    }
    return concat({lines, {"", "", "End Time:       \t ", hyphens, ""}});
}
GroupRow manyLapsRow(unsigned count) {
    GroupRow row{"123", "2024-05-14", "Tuesday", {}, "", "", "", ""};
    for (unsigned i = 1; i <= count; ++i)
        row.laps.push_back({i, "0:01'00.00", "xxxxxxx"});
    return row;
}

Lines withoutTrailingWhitespace(Lines lines) {
    for (std::string& line : lines)
        line.erase(line.find_last_not_of(" \t") + 1);
    return lines;
}

struct ExpectedProblem {
    std::size_t line;
    std::string says; // a part of the message
};

struct Row {
    const char* name;
    Lines lines;
    std::vector<GroupRow> groups;
    std::vector<ExpectedProblem> problems;
};

const std::vector<Row>& rows() {
    static const std::vector<Row> table{
        {"WorkedExampleWithStatistics", exampleWithStatistics, {exampleRow}, {}},
        {"WorkedExampleWithoutStatistics", exampleWithoutStatistics, {exampleRowWithoutStatistics()}, {}},
        {"DateWithoutWeekday",
         {"MCH:       \t001", "", "Record Date:\t2008-03-05\t", "", "", "End Time:       \t", hyphens, ""},
         {{"001", "2008-03-05", "", {}, "", "", "", ""}},
         {}},
        {"MissingAndAbsentTimes",
         {"MCH:       \t002", "", "Record Date:\t2008-03-05\tWednesday", "", "Lap1:\txxxxxxx\tSplit1:\txxxxxxx", "",
          "Lap2:\t-:--'--.--\tSplit2:\txxxxxxx", "", "Average Lap Time:   \t", "Fastest Lap Time:   \t-:--'--.--",
          "Slowest Lap Time:   \t", "", "End Time:       \t ", hyphens, ""},
         {{"002",
           "2008-03-05",
           "Wednesday",
           {{1, "xxxxxxx", "xxxxxxx"}, {2, "-:--'--.--", "xxxxxxx"}},
           "",
           "-:--'--.--",
           "",
           ""}},
         {}},
        {"LapNumbersOfSeveralDigits", manyLaps(12), {manyLapsRow(12)}, {}},
        {"SplitOnlyGroupHasNoLapLines", smallBlock("003"), {smallRow("003")}, {}},
        {"EmptyNumberAndDate",
         {"MCH:       \t", "", "Record Date:\t", "", "", "End Time:       \t", hyphens, ""},
         {GroupRow{}},
         {}},
        {"SeveralBlocksEmptyLinesBetweenAndNoFinalEmptyLine",
         concat({smallBlock("001"),
                 {"", ""},
                 smallBlock("002"),
                 {"MCH:       \t003", "", "Record Date:\t", "", "", "End Time:       \t0:10'00.00", hyphens}}),
         {smallRow("001"), smallRow("002"), smallRow("003")},
         {}},
        {"EditorStrippedTrailingWhitespace",
         withoutTrailingWhitespace(concat({exampleWithoutStatistics, smallBlock("")})),
         {exampleRowWithoutStatistics(), smallRow("")},
         {}},
        {"ByteOrderMarkOfAnEditor",
         concat({{"\xEF\xBB\xBF" + exampleWithStatistics[0]},
                 Lines(exampleWithStatistics.begin() + 1, exampleWithStatistics.end())}),
         {exampleRow},
         {}},
        {"BrokenBlockInTheMiddle",
         concat({smallBlock("001"),
                 exampleHead,
                 {"", "Lap4:\t0:00'01.00\tSplit4:\t0:00'01.00", "", "", "End Time:\t", hyphens, ""},
                 smallBlock("003")}),
         {smallRow("001"), smallRow("003")},
         {{17, "report block from line 9 breaks off: expected 'Lap3:', 'Average Lap Time:' or an empty line, found "
               "'Lap4:\\t0:00'01.00\\tSplit4:\\t0:00'01.00'; lines 9 to 21 not exported"}}},
        {"BlockCutShortByTheNextOne",
         concat({{"MCH:       \t001", "", "Record Date:\t"}, smallBlock("002")}),
         {smallRow("002")},
         {{4, "report block from line 1 breaks off: expected an empty line, found 'MCH:       \\t002'; lines 1 to 3"}}},
        {"BlockEndsWithTheInput",
         concat({smallBlock("001"), {"MCH:       \t002", "", "Record Date:\t", "", "Lap1:\t0:01'00.00\tSplit1:\t0"}}),
         {smallRow("001")},
         {{13, "report block from line 9 ends with the input, before its line of hyphens"}}},
        {"StrayLinesBeforeBetweenAndAfter",
         concat({{"Session of Tuesday", "coach: A. B."}, smallBlock("001"), {"note"}, smallBlock("002"), {"x", ""}}),
         {smallRow("001"), smallRow("002")},
         {{1, "lines 1 to 2 belong to no report block"},
          {11, "line belongs to no report block"},
          {20, "line belongs to no report block"}}},
        {"LapNumbersMustFollowEachOther",
         {"MCH:       \t001", "", "Record Date:\t", "", "Lap01:\t0:01'00.00\tSplit01:\t0:01'00.00", "", "",
          "End Time:       \t", hyphens, ""},
         {},
         {{5, "expected 'Lap1:'"}}},
        {"SplitNumberMustMatchItsLap",
         {"MCH:       \t001", "", "Record Date:\t", "", "Lap1:\t0:01'00.00\tSplit2:\t0:01'00.00", "", "",
          "End Time:       \t", hyphens, ""},
         {},
         {{5, "expected 'Lap1:'"}}},
        {"HyphenLineMustBeWhole",
         concat({{"MCH:       \t001", "", "Record Date:\t", "", "", "End Time:       \t", std::string(71, '-'), ""},
                 smallBlock("002")}),
         {smallRow("002")},
         {{7, "expected the line of 72 hyphens"}}},
        {"OverlongLineIsNotKept",
         concat({{std::string(ReportParser::maxLineBytes * 3, 'a')}, smallBlock("001")}),
         {smallRow("001")},
         {{1, "line belongs to no report block"}}},
        {"NoMoreLapsThanAGroupHolds",
         manyLaps(ReportParser::maxLaps + 1),
         {},
         {{3 + 2 * (ReportParser::maxLaps + 1), "'Average Lap Time:' or an empty line after lap 1665"}}},
        {"MostLapsAGroupHolds", manyLaps(ReportParser::maxLaps), {manyLapsRow(ReportParser::maxLaps)}, {}},
        {"EmptyInput", {}, {}, {}},
    };
    return table;
}

class ReportParserTest : public ::testing::TestWithParam<Row> {};

TEST_P(ReportParserTest, SameResultForEveryLineEndAndEveryPieceSize) {
    const Row& row = GetParam();
    for (const std::string lineEnd : {"\r\n", "\r", "\n"}) {
        const std::string text = join(row.lines, lineEnd);
        for (const std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
            SCOPED_TRACE(testing::Message()
                         << "line end " << testing::PrintToString(lineEnd) << ", pieces of " << piece);
            const Parsed p = parse(text, piece);
            EXPECT_EQ(p.groups, row.groups);
            ASSERT_EQ(p.problems.size(), row.problems.size());
            for (std::size_t i = 0; i < row.problems.size(); ++i) {
                EXPECT_EQ(p.problems[i].line, row.problems[i].line) << p.problems[i].message;
                EXPECT_NE(p.problems[i].message.find(row.problems[i].says), std::string::npos) << p.problems[i].message;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ReportParserTest, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReportParserLines, BlocksAreNumberedByTheirFirstLine) {
    const Parsed p = parse(join(concat({{"", "stray"}, smallBlock("001"), {""}, smallBlock("002")}), "\r\n"));
    EXPECT_EQ(p.firstLines, (std::vector<std::size_t>{3, 12}));
}

// Blocks written by the decoder's own report builder parse back to what the decoder's model
// gives for the same group, for models of every shape: missing and absent times, malformed
// digits, sums that are not times, statistics in any combination, dates without a weekday.
TEST(ReportParserLines, ParsesWhatTheDecoderWritesBackToItsModel) {
    std::mt19937 rng(20240514);
    const std::vector<std::string> times{"0:01'02.03", "9:59'59.99",   "xxxxxxx",   "-:--'--.--",
                                         "0:0:'0?.00", "12:1011'5.12", "0:00'00.00"};
    const std::vector<std::string> dates{"", "2008-03-05\tWednesday", "2007-11-22\t", "20::-1?-00\tSunday"};
    const auto pick = [&](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
    std::string text;
    std::vector<GroupRow> expected;
    for (int g = 0; g < 300; ++g) {
        TReceivedData d;
        d.groupNumber.text = g % 17 == 0 ? "" : std::to_string(100 + g % 900);
        d.date.text = pick(dates);
        const std::size_t laps = rng() % 4 == 0 ? 0 : rng() % 25;
        const std::size_t splits = laps + (rng() % 3 == 0 ? rng() % 3 : 0);
        for (std::size_t i = 0; i < laps; ++i)
            d.laps.emplace_back(pick(times));
        for (std::size_t i = 0; i < splits; ++i)
            d.splits.emplace_back(pick(times));
        d.hasAverage = rng() % 2;
        d.hasFastest = rng() % 3 == 0;
        d.hasSlowest = rng() % 3 == 0;
        for (TMyTime* t : {&d.averageLap, &d.fastestLap, &d.slowestLap, &d.endTime})
            t->text = rng() % 4 == 0 ? "" : pick(times);

        std::vector<unsigned char> block;
        d.BuildReport(block);
        text.append(block.begin(), block.end());
        GroupRow row;
        exporter::GroupFromDecoder(d, row);
        expected.push_back(row);
    }
    const Parsed p = parse(text, 333);
    EXPECT_TRUE(p.problems.empty()) << p.problems.front().line << ": " << p.problems.front().message;
    ASSERT_EQ(p.groups.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(p.groups[i], expected[i]) << "group " << i;
}

} // namespace
