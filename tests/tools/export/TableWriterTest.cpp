// SPDX-License-Identifier: MIT
#include "TableWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using exporter::Format;
using exporter::GroupRow;

const GroupRow twoLaps{
    "007",        "2007-11-22", "Thursday",   {{1, "0:01'02.03", "0:01'02.03"}, {2, "xxxxxxx", "-:--'--.--"}},
    "0:01'00.06", "",           "-:--'--.--", "0:02'00.13"};
const GroupRow noLaps{"", "", "", {}, "", "", "", "0:10'00.00"};

std::string write(Format format, const std::vector<std::pair<std::string, GroupRow>>& groups) {
    const auto writer = exporter::MakeTableWriter(format);
    std::string out;
    writer->Begin(out);
    for (const auto& [file, group] : groups)
        writer->Group(out, file, group);
    writer->End(out);
    return out;
}

const std::string csvHeader = "file,group,date,weekday,lap,lap_time,split_time,lap_seconds,split_seconds,average,"
                              "fastest,slowest,end_time,average_seconds,fastest_seconds,slowest_seconds,"
                              "end_time_seconds\r\n";

TEST(TableWriterTest, CsvRowPerLapAndOneForAGroupWithoutLaps) {
    EXPECT_EQ(write(Format::csv, {}), csvHeader);
    EXPECT_EQ(write(Format::csv, {{"a.txt", twoLaps}, {"-", noLaps}}),
              csvHeader +
                  "a.txt,007,2007-11-22,Thursday,1,0:01'02.03,0:01'02.03,62.03,62.03,0:01'00.06,,-:--'--.--,"
                  "0:02'00.13,60.06,,,120.13\r\n"
                  "a.txt,007,2007-11-22,Thursday,2,xxxxxxx,-:--'--.--,,,0:01'00.06,,-:--'--.--,0:02'00.13,60.06,,,"
                  "120.13\r\n"
                  "-,,,,,,,,,,,,0:10'00.00,,,,600.00\r\n");
}

TEST(TableWriterTest, CsvQuotesOnlyWhereNeeded) {
    struct Row {
        std::string file, field;
    };
    const std::vector<Row> rows{
        {"plain.txt", "plain.txt"},
        {"with space.txt", "with space.txt"},
        {"a,b.txt", "\"a,b.txt\""},
        {"say \"hi\".txt", "\"say \"\"hi\"\".txt\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\rhere", "\"cr\rhere\""},
        {"\"", "\"\"\"\""},
        {"caf\xE9.txt", "caf\xC3\xA9.txt"},
    };
    for (const Row& row : rows) {
        const std::string csv = write(Format::csv, {{row.file, noLaps}});
        EXPECT_EQ(csv, csvHeader + row.field + ",,,,,,,,,,,,0:10'00.00,,,,600.00\r\n") << row.file;
    }
}

TEST(TableWriterTest, JsonGroupsWithLapArrays) {
    EXPECT_EQ(write(Format::json, {}), "[]\n");
    EXPECT_EQ(write(Format::json, {{"a.txt", twoLaps}, {"-", noLaps}}),
              "[\n"
              "  {\"file\": \"a.txt\", \"group\": \"007\", \"date\": \"2007-11-22\", \"weekday\": \"Thursday\", "
              "\"average\": \"0:01'00.06\", \"fastest\": \"\", \"slowest\": \"-:--'--.--\", \"end_time\": "
              "\"0:02'00.13\", \"average_seconds\": 60.06, \"fastest_seconds\": null, \"slowest_seconds\": null, "
              "\"end_time_seconds\": 120.13, \"laps\": [\n"
              "    {\"lap\": 1, \"lap_time\": \"0:01'02.03\", \"split_time\": \"0:01'02.03\", \"lap_seconds\": 62.03, "
              "\"split_seconds\": 62.03},\n"
              "    {\"lap\": 2, \"lap_time\": \"xxxxxxx\", \"split_time\": \"-:--'--.--\", \"lap_seconds\": null, "
              "\"split_seconds\": null}\n"
              "  ]},\n"
              "  {\"file\": \"-\", \"group\": \"\", \"date\": \"\", \"weekday\": \"\", \"average\": \"\", "
              "\"fastest\": \"\", \"slowest\": \"\", \"end_time\": \"0:10'00.00\", \"average_seconds\": null, "
              "\"fastest_seconds\": null, \"slowest_seconds\": null, \"end_time_seconds\": 600.00, \"laps\": []}\n"
              "]\n");
}

TEST(TableWriterTest, JsonEscapesStrings) {
    struct Row {
        std::string file, json;
    };
    const std::vector<Row> rows{
        {"plain", "\"plain\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"tab\there", "\"tab\\there\""},
        {"two\r\nlines", "\"two\\r\\nlines\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\x1F", "\"\\u001f\""},
        {"caf\xE9", "\"caf\xC3\xA9\""},
        {"M\xC3\xBCller", "\"M\xC3\xBCller\""},
    };
    for (const Row& row : rows) {
        const std::string json = write(Format::json, {{row.file, noLaps}});
        EXPECT_TRUE(json.starts_with("[\n  {\"file\": " + row.json + ", \"group\"")) << json;
    }
}

} // namespace
