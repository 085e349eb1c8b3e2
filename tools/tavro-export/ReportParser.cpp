// SPDX-License-Identifier: MIT
#include "ReportParser.h"

#include <algorithm>
#include <charconv>

namespace exporter {

namespace {

constexpr std::string_view numberLabel = "MCH:";
constexpr std::string_view dateLabel = "Record Date:";
constexpr std::string_view averageLabel = "Average Lap Time:";
constexpr std::string_view fastestLabel = "Fastest Lap Time:";
constexpr std::string_view slowestLabel = "Slowest Lap Time:";
constexpr std::string_view endTimeLabel = "End Time:";
constexpr std::size_t hyphenCount = 72;
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
// How much of an unexpected line a message quotes.
constexpr std::size_t quotedBytes = 40;

std::string_view trimRight(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool isEmptyLine(std::string_view line) {
    return trimRight(line).empty();
}

// "Label:", the spaces the report puts before its TAB, the TAB, then the value; or the label
// alone, when an editor has stripped the TAB of an empty value. The value keeps no trailing
// spaces, so the end-time field's single space becomes empty here.
bool labelled(std::string_view line, std::string_view label, std::string_view& value) {
    if (!line.starts_with(label))
        return false;
    std::string_view rest = line.substr(label.size());
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.empty()) {
        value = {};
        return true;
    }
    if (rest.front() != '\t')
        return false;
    value = trimRight(rest.substr(1));
    return true;
}

bool singleValue(std::string_view line, std::string_view label, std::string& out) {
    std::string_view value;
    if (!labelled(line, label, value) || value.find('\t') != std::string_view::npos)
        return false;
    out.assign(value);
    return true;
}

// "Lap<k>:\t<lap>\tSplit<k>:\t<split>", k in plain decimal.
bool lapLine(std::string_view line, unsigned k, LapRow& row) {
    char digits[16];
    const auto [end, error] = std::to_chars(std::begin(digits), std::end(digits), k);
    const std::string_view number(digits, static_cast<std::size_t>(end - digits));
    if (error != std::errc() || !line.starts_with("Lap") || !line.substr(3).starts_with(number))
        return false;
    const std::size_t afterNumber = 3 + number.size();
    std::string_view rest;
    if (line.size() <= afterNumber || line[afterNumber] != ':' || !labelled(line.substr(afterNumber), ":", rest))
        return false;
    const std::size_t tab = rest.find('\t');
    if (tab == std::string_view::npos)
        return false;
    const std::string_view lapTime = trimRight(rest.substr(0, tab));
    rest = rest.substr(tab + 1);
    if (!rest.starts_with("Split") || !rest.substr(5).starts_with(number))
        return false;
    std::string_view splitTime;
    if (!labelled(rest.substr(5 + number.size()), ":", splitTime) || splitTime.find('\t') != std::string_view::npos)
        return false;
    row.lap = k;
    row.lapTime.assign(lapTime);
    row.splitTime.assign(splitTime);
    return true;
}

bool hyphenLine(std::string_view line) {
    line = trimRight(line);
    return line.size() == hyphenCount && line.find_first_not_of('-') == std::string_view::npos;
}

// The start of an unexpected line, printable in a message.
std::string quote(std::string_view line, bool overlong) {
    std::string out = "'";
    for (const char c : line.substr(0, quotedBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            constexpr char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    out += "'";
    if (line.size() > quotedBytes || overlong)
        out += "...";
    return out;
}

} // namespace

ReportParser::ReportParser(GroupSink onGroup, ProblemSink onProblem)
    : onGroup(std::move(onGroup)), onProblem(std::move(onProblem)) {}

void ReportParser::Feed(std::string_view bytes) {
    std::size_t i = 0;
    if (afterCarriageReturn && !bytes.empty()) {
        afterCarriageReturn = false;
        if (bytes.front() == '\n')
            i = 1;
    }
    while (i < bytes.size()) {
        std::size_t j = i;
        while (j < bytes.size() && bytes[j] != '\r' && bytes[j] != '\n')
            ++j;
        const std::string_view piece = bytes.substr(i, j - i);
        if (j == bytes.size()) {
            const std::size_t room = maxLineBytes - partial.size();
            partial.append(piece.substr(0, room));
            partialOverlong = partialOverlong || piece.size() > room;
            pendingLine = true;
            return;
        }
        if (!pendingLine) {
            EndLine(piece.substr(0, maxLineBytes), piece.size() > maxLineBytes);
        } else {
            const std::size_t room = maxLineBytes - partial.size();
            partial.append(piece.substr(0, room));
            EndLine(partial, partialOverlong || piece.size() > room);
        }
        if (bytes[j] == '\r') {
            if (j + 1 == bytes.size())
                afterCarriageReturn = true;
            else if (bytes[j + 1] == '\n')
                ++j;
        }
        i = j + 1;
    }
}

void ReportParser::Finish() {
    if (pendingLine)
        EndLine(partial, partialOverlong);
    switch (expect) {
    case Expect::header:
        break;
    case Expect::restOfBrokenBlock:
        EndBrokenBlock(lineNumber);
        break;
    default:
        onProblem({lineNumber, "report block from line " + std::to_string(blockStart) +
                                   " ends with the input, before its line of hyphens; not exported"});
        expect = Expect::header;
        break;
    }
    EndStrayRun();
}

void ReportParser::EndLine(std::string_view line, bool overlong) {
    ++lineNumber;
    // Editors on some systems start a text they save in UTF-8 with a byte-order mark.
    if (lineNumber == 1 && line.starts_with(byteOrderMark))
        line.remove_prefix(byteOrderMark.size());
    OnLine(line, overlong);
    partial.clear();
    partialOverlong = false;
    pendingLine = false;
}

bool ReportParser::StartBlock(std::string_view line) {
    std::string group;
    if (!singleValue(line, numberLabel, group))
        return false;
    EndStrayRun();
    current.group = std::move(group);
    current.date.clear();
    current.weekday.clear();
    current.laps.clear();
    current.average.clear();
    current.fastest.clear();
    current.slowest.clear();
    current.endTime.clear();
    blockStart = lineNumber;
    expect = Expect::emptyAfterNumber;
    return true;
}

void ReportParser::OnLine(std::string_view line, bool overlong) {
    // An overlong line matches nothing: no line of a block comes near the limit.
    const std::string_view text = overlong ? std::string_view("\x01") : line;
    const Expect wanted = expect;
    std::string_view value;
    bool ok = false;
    switch (expect) {
    case Expect::header:
        if (isEmptyLine(text) || StartBlock(text))
            return;
        if (strayStart == 0)
            strayStart = lineNumber;
        strayEnd = lineNumber;
        return;
    case Expect::restOfBrokenBlock:
        if (hyphenLine(text)) {
            EndBrokenBlock(lineNumber);
            expect = Expect::header;
        } else if (labelled(text, numberLabel, value)) {
            EndBrokenBlock(lineNumber - 1);
            expect = Expect::header;
            OnLine(line, overlong);
        }
        return;
    case Expect::emptyAfterNumber:
        ok = isEmptyLine(text);
        expect = Expect::date;
        break;
    case Expect::date:
        ok = labelled(text, dateLabel, value) && std::count(value.begin(), value.end(), '\t') <= 1;
        if (ok)
            SplitDate(value, current.date, current.weekday);
        expect = Expect::emptyAfterDate;
        break;
    case Expect::emptyAfterDate:
    case Expect::emptyAfterLap:
        ok = isEmptyLine(text);
        expect = Expect::lapOrStatistics;
        break;
    case Expect::lapOrStatistics:
        if (isEmptyLine(text)) {
            ok = true;
            expect = Expect::endTime;
        } else if (singleValue(text, averageLabel, current.average)) {
            ok = true;
            expect = Expect::fastest;
        } else if (current.laps.size() < maxLaps) {
            LapRow& row = current.laps.emplace_back();
            ok = lapLine(text, static_cast<unsigned>(current.laps.size()), row);
            if (!ok)
                current.laps.pop_back();
            expect = Expect::emptyAfterLap;
        }
        break;
    case Expect::fastest:
        ok = singleValue(text, fastestLabel, current.fastest);
        expect = Expect::slowest;
        break;
    case Expect::slowest:
        ok = singleValue(text, slowestLabel, current.slowest);
        expect = Expect::emptyAfterSlowest;
        break;
    case Expect::emptyAfterSlowest:
        ok = isEmptyLine(text);
        expect = Expect::endTime;
        break;
    case Expect::endTime:
        ok = singleValue(text, endTimeLabel, current.endTime);
        expect = Expect::hyphens;
        break;
    case Expect::hyphens:
        ok = hyphenLine(text);
        if (ok) {
            expect = Expect::header;
            onGroup(current, blockStart);
            return;
        }
        break;
    }
    if (!ok)
        BreakOff(wanted, line, overlong);
}

std::string ReportParser::Expected(Expect wanted) const {
    switch (wanted) {
    case Expect::emptyAfterNumber:
    case Expect::emptyAfterDate:
    case Expect::emptyAfterLap:
    case Expect::emptyAfterSlowest:
        return "an empty line";
    case Expect::date:
        return "'Record Date:'";
    case Expect::lapOrStatistics:
        if (current.laps.size() >= maxLaps)
            return "'Average Lap Time:' or an empty line after lap " + std::to_string(maxLaps) +
                   ", the highest a group can have";
        return "'Lap" + std::to_string(current.laps.size() + 1) + ":', 'Average Lap Time:' or an empty line";
    case Expect::fastest:
        return "'Fastest Lap Time:'";
    case Expect::slowest:
        return "'Slowest Lap Time:'";
    case Expect::endTime:
        return "'End Time:'";
    case Expect::hyphens:
        return "the line of " + std::to_string(hyphenCount) + " hyphens";
    case Expect::header:
    case Expect::restOfBrokenBlock:
        break;
    }
    return "the start of a block";
}

void ReportParser::BreakOff(Expect wanted, std::string_view line, bool overlong) {
    broken = {lineNumber, "report block from line " + std::to_string(blockStart) + " breaks off: expected " +
                              Expected(wanted) + ", found " + quote(line, overlong)};
    expect = Expect::restOfBrokenBlock;
    // A new block's first line ends the broken one at once.
    std::string_view value;
    if (!overlong && labelled(line, numberLabel, value)) {
        EndBrokenBlock(lineNumber - 1);
        expect = Expect::header;
        StartBlock(line);
    }
}

void ReportParser::EndBrokenBlock(std::size_t lastLine) {
    broken.message += "; lines " + std::to_string(blockStart) + " to " + std::to_string(lastLine) + " not exported";
    onProblem(broken);
}

void ReportParser::EndStrayRun() {
    if (strayStart == 0)
        return;
    if (strayStart == strayEnd)
        onProblem({strayStart, "line belongs to no report block; skipped"});
    else
        onProblem({strayStart, "lines " + std::to_string(strayStart) + " to " + std::to_string(strayEnd) +
                                   " belong to no report block; skipped"});
    strayStart = strayEnd = 0;
}

} // namespace exporter
