// SPDX-License-Identifier: MIT
#include "SessionFile.h"

#include <array>
#include <charconv>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace sim {

const char* const SessionFileFormat =
    "Session file format (one record per line, sent in file order; '#' starts a comment):\n"
    "  group [NUMBER]             starts a group; with NUMBER (0..999) its first record is\n"
    "                             the group-number record. Without one the program shows the\n"
    "                             previous group's number.\n"
    "  number NUMBER              a group-number record anywhere in the group\n"
    "  date YYYY-MM-DD [WEEKDAY]  the record date, year 2000..2099; WEEKDAY is a name\n"
    "                             (Sunday, or Sun) or a code 0..15 (0 Sunday; 7..15 show no\n"
    "                             name). Without WEEKDAY the calendar's is sent, so the date\n"
    "                             must exist; with it any month and day 00..99 may be given.\n"
    "  lap N TIME                 lap time number N (0..999; 0 is stored nowhere)\n"
    "  split N TIME               split time number N, overriding the sum of the laps\n"
    "  end TIME                   the end time\n"
    "  average TIME | fastest TIME | slowest TIME   the lap statistics\n"
    "  record TYPE INDEX B4 B5 B6 B7   a record of a type the program does not know: TYPE\n"
    "                             two hex digits (not 11 1E 22 33 44 55 66 77 FF), INDEX\n"
    "                             0..999, payload bytes in hex\n"
    "  TIME is H:MM'SS.cc (H 0..9, MM and SS 00..59) or 'absent' (also -:--'--.--).\n"
    "  Example:\n"
    "    group 7\n"
    "    date 2007-11-22\n"
    "    lap 1 0:01'02.03\n"
    "    lap 2 0:00'58.10\n"
    "    average 0:01'00.06\n"
    "    end 0:02'00.13\n";

namespace {

constexpr std::array<const char*, 7> weekdayNames{"sunday",   "monday", "tuesday", "wednesday",
                                                  "thursday", "friday", "saturday"};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string hexByte(unsigned value) {
    static constexpr const char* digits = "0123456789ABCDEF";
    return {digits[value >> 4 & 0x0F], digits[value & 0x0F]};
}

class LineParser {
public:
    LineParser(const std::string& name, std::size_t lineNumber) : name(name), lineNumber(lineNumber) {}

    [[noreturn]] void Fail(const std::string& reason) const {
        throw SessionError(name + ":" + std::to_string(lineNumber) + ": " + reason);
    }

    unsigned Number(std::string_view text, unsigned max, const char* what, int base = 10) const {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
        if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) {
            const std::string range = base == 16 ? "hex 00 to " + hexByte(max) : "0 to " + std::to_string(max);
            Fail(std::string(what) + " '" + std::string(text) + "' is not a number from " + range);
        }
        return value;
    }

    // Exactly `digits` decimal digits.
    unsigned Digits(std::string_view text, std::size_t digits, const char* what) const {
        if (text.size() != digits || text.find_first_not_of("0123456789") != std::string_view::npos)
            Fail(std::string(what) + " must be " + std::to_string(digits) + " digits, not '" + std::string(text) + "'");
        return Number(text, 9999, what);
    }

    SimTime Time(std::string_view text) const {
        if (text == "absent" || text == "-:--'--.--")
            return SimTime::Absent();
        // H:MM'SS.cc
        if (text.size() != 10 || text[1] != ':' || text[4] != '\'' || text[7] != '.')
            Fail("time '" + std::string(text) + "' is not H:MM'SS.cc or 'absent'");
        const unsigned h = Digits(text.substr(0, 1), 1, "hour");
        const unsigned mm = Digits(text.substr(2, 2), 2, "minutes");
        const unsigned ss = Digits(text.substr(5, 2), 2, "seconds");
        const unsigned cc = Digits(text.substr(8, 2), 2, "hundredths");
        if (mm > 59 || ss > 59)
            Fail("time '" + std::string(text) + "' has minutes or seconds above 59");
        return SimTime::Of(h, mm, ss, cc);
    }

    SimDate Date(std::string_view text, const std::string* weekdayWord) const {
        if (text.size() != 10 || text[4] != '-' || text[7] != '-' || text.substr(0, 2) != "20")
            Fail("date '" + std::string(text) + "' is not YYYY-MM-DD with a year 2000..2099");
        SimDate date;
        date.year = Digits(text.substr(2, 2), 2, "year");
        date.month = Digits(text.substr(5, 2), 2, "month");
        date.day = Digits(text.substr(8, 2), 2, "day");
        if (weekdayWord) {
            date.weekday = Weekday(*weekdayWord);
            return date;
        }
        using namespace std::chrono;
        const year_month_day ymd{year(2000 + static_cast<int>(date.year)), month(date.month), day(date.day)};
        if (!ymd.ok())
            Fail("date '" + std::string(text) + "' does not exist; give the weekday to send it anyway");
        date.weekday = weekday(sys_days(ymd)).c_encoding();
        return date;
    }

    unsigned Weekday(const std::string& text) const {
        if (!text.empty() && text[0] >= '0' && text[0] <= '9')
            return Number(text, 15, "weekday code");
        const std::string name = lower(text);
        for (unsigned i = 0; i < weekdayNames.size(); ++i)
            if (name == weekdayNames[i] || (name.size() == 3 && std::string_view(weekdayNames[i]).starts_with(name)))
                return i;
        Fail("weekday '" + text + "' is neither a day's name nor a code 0..15");
    }

private:
    const std::string& name;
    std::size_t lineNumber;
};

std::vector<std::string> words(std::string_view line) {
    if (const auto hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    std::vector<std::string> out;
    std::istringstream in{std::string(line)};
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

struct TimeKeyword {
    const char* word;
    RecordKind kind;
};
constexpr std::array<TimeKeyword, 4> singleTimes{{{"end", RecordKind::endTime},
                                                  {"average", RecordKind::averageLap},
                                                  {"fastest", RecordKind::fastestLap},
                                                  {"slowest", RecordKind::slowestLap}}};

std::string dateLine(const SimDate& date) {
    static constexpr std::array<const char*, 7> names{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                      "Thursday", "Friday", "Saturday"};
    std::string text = DateText(date);
    text = text.substr(0, text.find('\t'));
    return "date " + text + " " + (date.weekday < names.size() ? names[date.weekday] : std::to_string(date.weekday));
}

std::string timeWord(const SimTime& time) {
    return time.absent ? "absent" : TimeText(time);
}

} // namespace

SimSession ParseSession(std::string_view text, const std::string& name) {
    SimSession session;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const auto w = words(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;
        if (w.empty())
            continue;

        const LineParser p(name, lineNumber);
        const std::string keyword = lower(w[0]);
        auto expectArgs = [&](std::size_t min, std::size_t max, const char* usage) {
            if (w.size() - 1 < min || w.size() - 1 > max)
                p.Fail(std::string("expected '") + usage + "'");
        };

        if (keyword == "group") {
            expectArgs(0, 1, "group [NUMBER]");
            session.groups.emplace_back();
            if (w.size() == 2)
                session.groups.back().records.push_back(SimRecord::Number(p.Number(w[1], maxIndex, "group number")));
            continue;
        }
        if (session.groups.empty())
            p.Fail("'" + w[0] + "' before the first 'group' line");
        auto& records = session.groups.back().records;

        if (keyword == "number") {
            expectArgs(1, 1, "number NUMBER");
            records.push_back(SimRecord::Number(p.Number(w[1], maxIndex, "group number")));
        } else if (keyword == "date") {
            expectArgs(1, 2, "date YYYY-MM-DD [WEEKDAY]");
            records.push_back(SimRecord::Date(p.Date(w[1], w.size() == 3 ? &w[2] : nullptr)));
        } else if (keyword == "lap" || keyword == "split") {
            expectArgs(2, 2, keyword == "lap" ? "lap N TIME" : "split N TIME");
            const unsigned n = p.Number(w[1], maxIndex, "number");
            records.push_back(SimRecord::Time(keyword == "lap" ? RecordKind::lap : RecordKind::split, p.Time(w[2]), n));
        } else if (keyword == "record") {
            expectArgs(6, 6, "record TYPE INDEX B4 B5 B6 B7");
            const auto type = static_cast<std::uint8_t>(p.Number(w[1], 0xFF, "type", 16));
            if (IsKnownType(type))
                p.Fail("type " + hexByte(type) + " is one the program knows; use its own line");
            const unsigned index = p.Number(w[2], maxIndex, "index");
            std::array<std::uint8_t, 4> payload{};
            for (std::size_t k = 0; k < payload.size(); ++k)
                payload[k] = static_cast<std::uint8_t>(p.Number(w[3 + k], 0xFF, "payload byte", 16));
            records.push_back(SimRecord::Unknown(type, index, payload));
        } else {
            bool found = false;
            for (const TimeKeyword& single : singleTimes) {
                if (keyword == single.word) {
                    expectArgs(1, 1, (std::string(single.word) + " TIME").c_str());
                    records.push_back(SimRecord::Time(single.kind, p.Time(w[1])));
                    found = true;
                }
            }
            if (!found)
                p.Fail("unknown keyword '" + w[0] + "'");
        }
    }
    if (session.groups.empty())
        throw SessionError(name + ": no groups (a session needs at least one 'group' line)");
    CheckPlayable(session, name);
    return session;
}

void CheckPlayable(const SimSession& session, const std::string& name) {
    for (std::size_t g = 0; g < session.groups.size(); ++g) {
        if (const auto at = FindStrayHeader(EncodeGroup(session.groups[g])))
            throw SessionError(name + ": group " + std::to_string(g + 1) + " holds the header pattern at byte " +
                               std::to_string(*at) + "; the program would split the group there");
    }
}

SimSession LoadSessionFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw SessionError(path + ": cannot be read");
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return ParseSession(text, path);
}

std::string FormatSession(const SimSession& session) {
    std::string out;
    for (const SimGroup& group : session.groups) {
        std::size_t first = 0;
        if (!group.records.empty() && group.records[0].kind == RecordKind::groupNumber) {
            out += "group " + std::to_string(group.records[0].index) + "\n";
            first = 1;
        } else {
            out += "group\n";
        }
        for (std::size_t i = first; i < group.records.size(); ++i) {
            const SimRecord& r = group.records[i];
            switch (r.kind) {
            case RecordKind::groupNumber:
                out += "number " + std::to_string(r.index);
                break;
            case RecordKind::date:
                out += dateLine(r.date);
                break;
            case RecordKind::lap:
                out += "lap " + std::to_string(r.index) + " " + timeWord(r.time);
                break;
            case RecordKind::split:
                out += "split " + std::to_string(r.index) + " " + timeWord(r.time);
                break;
            case RecordKind::unknown:
                out += "record " + hexByte(r.type) + " " + std::to_string(r.index);
                for (const std::uint8_t b : r.payload) {
                    out += ' ';
                    out += hexByte(b);
                }
                break;
            default:
                for (const TimeKeyword& single : singleTimes)
                    if (single.kind == r.kind)
                        out += std::string(single.word) + " " + timeWord(r.time);
                break;
            }
            out += "\n";
        }
    }
    return out;
}

} // namespace sim
