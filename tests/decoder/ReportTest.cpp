// SPDX-License-Identifier: MIT
#include "ReceivedData.h"
#include "Wire.h"
#include "WorkedExample.h"

#include <gtest/gtest.h>

namespace {

const std::string hyphens = std::string(72, '-');

std::vector<std::string> linesOf(const std::vector<unsigned char>& block) {
    std::vector<std::string> lines;
    std::string line;
    for (const unsigned char c : block) {
        EXPECT_NE(c, '\n') << "a report block has no line feeds";
        if (c == '\r') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    EXPECT_EQ(line, "") << "every block ends with a carriage return";
    return lines;
}

// The decoder's model for the worked example: group 7, 2007-11-22, two laps.
void fillExample(TReceivedData& d, bool withStatistics, bool withEndTime) {
    d.groupNumber.text = "007";
    d.date.text = "2007-11-22\tThursday";
    d.laps = {TMyTime("0:01'02.03"), TMyTime("0:00'58.10")};
    d.splits = {TMyTime("0:01'02.03"), TMyTime("0:02'00.13")};
    if (withStatistics) {
        d.hasAverage = d.hasFastest = d.hasSlowest = true;
        d.averageLap.text = "0:01'00.06";
        d.fastestLap.text = "0:00'58.10";
        d.slowestLap.text = "0:01'02.03";
    }
    if (withEndTime)
        d.endTime.text = "0:02'00.13";
}

TEST(ReportTest, WorkedExample) {
    // The group's number, date and laps, the same with or without statistics and end time.
    const std::vector<std::string>& head = example::twoLapReportHead;
    struct Row {
        bool statistics;
        bool endTime;
        std::vector<std::string> tail;
    };
    const std::vector<Row> rows{
        {true,
         true,
         {"", "Average Lap Time:   \t0:01'00.06", "Fastest Lap Time:   \t0:00'58.10",
          "Slowest Lap Time:   \t0:01'02.03", "", "End Time:       \t0:02'00.13", hyphens, ""}},
        // The last split is greater than the empty end time: the field is one space.
        {false, false, {"", "", "End Time:       \t ", hyphens, ""}},
    };
    for (const Row& row : rows) {
        TReceivedData d;
        fillExample(d, row.statistics, row.endTime);
        std::vector<unsigned char> out{'o', 'l', 'd'}; // replaced, not appended to
        d.BuildReport(out);
        std::vector<std::string> expected = head;
        expected.insert(expected.end(), row.tail.begin(), row.tail.end());
        EXPECT_EQ(linesOf(out), expected) << "statistics " << row.statistics;
        EXPECT_EQ(wire::text(out).substr(out.size() - 2), "\r\r");
    }
}

TEST(ReportTest, EndTimeField) {
    struct Row {
        const char* name;
        std::vector<std::string> splits;
        std::string endTime;
        std::string field;
    };
    const std::vector<Row> rows{
        {"no laps, empty end time", {}, "", ""},
        {"no laps, end time", {}, "0:10'00.00", "0:10'00.00"},
        {"end time missing", {"0:01'00.00"}, "", " "},
        {"end time earlier", {"0:01'00.00"}, "0:00'59.99", " "},
        {"end time equal", {"0:01'00.00"}, "0:01'00.00", "0:01'00.00"},
        {"end time later", {"0:01'00.00"}, "0:01'00.01", "0:01'00.01"},
        {"end time absent", {"0:01'00.00"}, "-:--'--.--", " "},
        {"last split missing", {"xxxxxxx"}, "0:01'00.00", " "},
        {"both absent", {"-:--'--.--"}, "-:--'--.--", "-:--'--.--"},
        {"nibble chars sort after digits", {"0:0:'00.00"}, "0:09'00.00", " "},
    };
    for (const Row& row : rows) {
        TReceivedData d;
        for (const std::string& s : row.splits) {
            d.laps.emplace_back("0:00'01.00");
            d.splits.emplace_back(s);
        }
        d.endTime.text = row.endTime;
        std::vector<unsigned char> out;
        d.BuildReport(out);
        const auto lines = linesOf(out);
        ASSERT_GE(lines.size(), 3u) << row.name;
        EXPECT_EQ(lines[lines.size() - 3], "End Time:       \t" + row.field) << row.name;
    }
}

TEST(ReportTest, Shapes) {
    // Without laps and statistics: 3 + 5 lines; split-only groups show no laps.
    TReceivedData d;
    d.splits = {TMyTime("0:01'00.00")};
    std::vector<unsigned char> out;
    d.BuildReport(out);
    EXPECT_EQ(linesOf(out), (std::vector<std::string>{"MCH:       \t", "", "Record Date:\t", "", "",
                                                      "End Time:       \t", hyphens, ""}));

    // Only the fastest lap received: all three statistics lines, the others end with a TAB.
    TReceivedData s;
    s.hasFastest = true;
    s.fastestLap.text = "0:00'58.10";
    s.BuildReport(out);
    const auto lines = linesOf(out);
    ASSERT_EQ(lines.size(), 3u + 8u);
    EXPECT_EQ(lines[4], "Average Lap Time:   \t");
    EXPECT_EQ(lines[5], "Fastest Lap Time:   \t0:00'58.10");
    EXPECT_EQ(lines[6], "Slowest Lap Time:   \t");

    // Lap numbers are written in full, and missing slots as their marker.
    TReceivedData many;
    for (int i = 0; i < 12; ++i) {
        many.laps.emplace_back(i == 9 ? "xxxxxxx" : "0:00'10.00");
        many.splits.emplace_back(i == 9 ? "xxxxxxx" : "0:01'00.00");
    }
    many.BuildReport(out);
    const auto manyLines = linesOf(out);
    ASSERT_EQ(manyLines.size(), 3u + 2 * 12 + 5);
    EXPECT_EQ(manyLines[4], "Lap1:\t0:00'10.00\tSplit1:\t0:01'00.00");
    EXPECT_EQ(manyLines[3 + 2 * 9 + 1], "Lap10:\txxxxxxx\tSplit10:\txxxxxxx");
    EXPECT_EQ(manyLines[3 + 2 * 11 + 1], "Lap12:\t0:00'10.00\tSplit12:\t0:01'00.00");
}

} // namespace
