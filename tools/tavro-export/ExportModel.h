// SPDX-License-Identifier: MIT
#pragma once

// One memory group as tavro-export writes it, whether it was read from report text or
// decoded from a capture. Every value is the text the report shows, unchanged; numbers are
// derived from the texts only when a table is written.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exporter {

struct LapRow {
    unsigned lap = 0;
    std::string lapTime;
    std::string splitTime;
    bool operator==(const LapRow&) const = default;
};

struct GroupRow {
    std::string group;   // three digits, or empty when the timer never sent one
    std::string date;    // the report's date text before its TAB ("2008-03-05")
    std::string weekday; // after the TAB; empty for a weekday code without a name
    std::vector<LapRow> laps;
    std::string average;
    std::string fastest;
    std::string slowest;
    std::string endTime; // empty where the report shows a single space
    bool operator==(const GroupRow&) const = default;
};

// A time text H:MM'SS.cc as a count of hundredths of a second; nothing for the missing
// marker, the absent placeholder, an empty text, and for any text that is not a plain time
// (the characters after '9' that malformed payloads give, minutes or seconds of 60 or more).
std::optional<std::uint32_t> TimeHundredths(std::string_view text);

// Hundredths as decimal seconds with exactly two decimals: 8345 gives "83.45".
std::string SecondsText(std::uint32_t hundredths);

// Splits the report's date text "2008-03-05\tWednesday" into date and weekday. A date
// without a weekday ends with its TAB, or has lost it (an editor that strips trailing
// whitespace); both give an empty weekday.
void SplitDate(std::string_view text, std::string& date, std::string& weekday);

// The report's end-time field as a value: its single space (end time not shown) is empty.
std::string EndTimeValue(std::string_view field);

} // namespace exporter
