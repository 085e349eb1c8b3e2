// SPDX-License-Identifier: MIT
#include "ExportModel.h"
#include "TableWriter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

TEST(ExportModelTest, TimeTextsInSeconds) {
    struct Row {
        std::string text;
        std::optional<std::string> seconds;
    };
    const std::vector<Row> rows{
        {"0:01'23.45", "83.45"},
        {"0:00'00.00", "0.00"},
        {"0:00'00.01", "0.01"},
        {"0:00'00.10", "0.10"},
        {"0:59'59.99", "3599.99"},
        {"1:00'00.00", "3600.00"},
        {"9:59'59.99", "35999.99"},
        {"xxxxxxx", std::nullopt},
        {"-:--'--.--", std::nullopt},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"0:60'00.00", std::nullopt},   // minutes past 59
        {"0:00'60.00", std::nullopt},   // seconds past 59
        {":0:00'00.00", std::nullopt},  // hour nibble 0xA
        {"0:0:'00.00", std::nullopt},   // minute units nibble 0xA
        {"0:00'00.0?", std::nullopt},   // hundredths nibble 0xF
        {"12:1011'5.12", std::nullopt}, // a sum of malformed digits
        {"0:01'23.4", std::nullopt},
        {"0:01'23.456", std::nullopt},
        {"0.01'23:45", std::nullopt},
        {"0:01'23.45 ", std::nullopt},
    };
    for (const Row& row : rows) {
        const auto hundredths = exporter::TimeHundredths(row.text);
        ASSERT_EQ(hundredths.has_value(), row.seconds.has_value()) << "'" << row.text << "'";
        if (hundredths) {
            EXPECT_EQ(exporter::SecondsText(*hundredths), *row.seconds) << row.text;
        }
    }
}

TEST(ExportModelTest, DateTextSplitsAtItsTab) {
    struct Row {
        std::string text, date, weekday;
    };
    const std::vector<Row> rows{
        {"2007-11-22\tThursday", "2007-11-22", "Thursday"},
        {"2007-11-22\t", "2007-11-22", ""},
        {"2007-11-22", "2007-11-22", ""},
        {"", "", ""},
        {"20::-1?-00\tSunday", "20::-1?-00", "Sunday"},
    };
    for (const Row& row : rows) {
        std::string date = "old", weekday = "old";
        exporter::SplitDate(row.text, date, weekday);
        EXPECT_EQ(date, row.date) << row.text;
        EXPECT_EQ(weekday, row.weekday) << row.text;
    }
    EXPECT_EQ(exporter::EndTimeValue(" "), "");
    EXPECT_EQ(exporter::EndTimeValue(""), "");
    EXPECT_EQ(exporter::EndTimeValue("0:01'00.00"), "0:01'00.00");
}

TEST(ExportModelTest, Utf8PassesThroughAndOtherBytesAreLatin1) {
    struct Row {
        std::string bytes, utf8;
    };
    const std::vector<Row> rows{
        {"plain ascii", "plain ascii"},
        {"M\xC3\xBCller", "M\xC3\xBCller"},           // UTF-8 ü stays
        {"M\xFCller", "M\xC3\xBCller"},               // Latin-1 ü becomes UTF-8
        {"\xE2\x82\xAC", "\xE2\x82\xAC"},             // euro sign, three bytes
        {"\xF0\x9F\x8F\x83", "\xF0\x9F\x8F\x83"},     // four bytes
        {"\xE2\x82", "\xC3\xA2\xC2\x82"},             // cut-off sequence
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},             // overlong form
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"}, // surrogate
        {"a\xFF"
         "b",
         "a\xC3\xBF"
         "b"},
    };
    for (const Row& row : rows) {
        std::string out = ">";
        exporter::AppendUtf8(out, row.bytes);
        EXPECT_EQ(out, ">" + row.utf8) << testing::PrintToString(row.bytes);
    }
}

} // namespace
