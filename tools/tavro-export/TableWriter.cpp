// SPDX-License-Identifier: MIT
#include "TableWriter.h"

#include <array>

namespace exporter {

namespace {

// Length of the valid UTF-8 sequence at the start of bytes, or 0.
std::size_t utf8Sequence(std::string_view bytes) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = b(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length || b(1) < low || b(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (b(i) < 0x80 || b(i) > 0xBF)
            return 0;
    return length;
}

void appendSeconds(std::string& out, std::string_view time) {
    if (const auto hundredths = TimeHundredths(time))
        out += SecondsText(*hundredths);
}

// --- CSV ------------------------------------------------------------------------------------

void csvField(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        AppendUtf8(out, text);
        return;
    }
    out += '"';
    for (std::size_t start = 0;;) {
        const std::size_t quote = text.find('"', start);
        AppendUtf8(out, text.substr(start, quote - start));
        if (quote == std::string_view::npos)
            break;
        out += "\"\"";
        start = quote + 1;
    }
    out += '"';
}

class CsvWriter : public TableWriter {
public:
    void Begin(std::string& out) override {
        out += "file,group,date,weekday,lap,lap_time,split_time,lap_seconds,split_seconds,"
               "average,fastest,slowest,end_time,average_seconds,fastest_seconds,slowest_seconds,end_time_seconds\r\n";
    }

    void Group(std::string& out, std::string_view file, const GroupRow& group) override {
        // The group's own columns, the same on each of its rows, written once.
        head.clear();
        csvField(head, file);
        head += ',';
        csvField(head, group.group);
        head += ',';
        csvField(head, group.date);
        head += ',';
        csvField(head, group.weekday);
        head += ',';
        tail.clear();
        for (const std::string* text : {&group.average, &group.fastest, &group.slowest, &group.endTime}) {
            tail += ',';
            csvField(tail, *text);
        }
        for (const std::string* text : {&group.average, &group.fastest, &group.slowest, &group.endTime}) {
            tail += ',';
            appendSeconds(tail, *text);
        }
        tail += "\r\n";

        if (group.laps.empty()) {
            out += head;
            out += ",,,,";
            out += tail;
            return;
        }
        for (const LapRow& lap : group.laps) {
            out += head;
            out += std::to_string(lap.lap);
            out += ',';
            csvField(out, lap.lapTime);
            out += ',';
            csvField(out, lap.splitTime);
            out += ',';
            appendSeconds(out, lap.lapTime);
            out += ',';
            appendSeconds(out, lap.splitTime);
            out += tail;
        }
    }

    void End(std::string&) override {}

private:
    std::string head;
    std::string tail;
};

// --- JSON -----------------------------------------------------------------------------------

void jsonString(std::string& out, std::string_view text) {
    out += '"';
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        AppendUtf8(out, text.substr(start, i - start));
        start = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default: {
            constexpr char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
        }
    }
    AppendUtf8(out, text.substr(start));
    out += '"';
}

void jsonSeconds(std::string& out, std::string_view time) {
    if (const auto hundredths = TimeHundredths(time))
        out += SecondsText(*hundredths);
    else
        out += "null";
}

// `"name": value, ` with the value written by `put`.
template <typename Put>
void jsonMember(std::string& out, std::string_view name, std::string_view value, Put put) {
    out += '"';
    out += name;
    out += "\": ";
    put(out, value);
    out += ", ";
}

void jsonMember(std::string& out, std::string_view name, std::string_view text) {
    jsonMember(out, name, text, jsonString);
}

void jsonSecondsMember(std::string& out, std::string_view name, std::string_view time) {
    jsonMember(out, name, time, jsonSeconds);
}

class JsonWriter : public TableWriter {
public:
    void Begin(std::string& out) override { out += '['; }

    void Group(std::string& out, std::string_view file, const GroupRow& group) override {
        out += any ? ",\n  {" : "\n  {";
        any = true;
        jsonMember(out, "file", file);
        jsonMember(out, "group", group.group);
        jsonMember(out, "date", group.date);
        jsonMember(out, "weekday", group.weekday);
        jsonMember(out, "average", group.average);
        jsonMember(out, "fastest", group.fastest);
        jsonMember(out, "slowest", group.slowest);
        jsonMember(out, "end_time", group.endTime);
        jsonSecondsMember(out, "average_seconds", group.average);
        jsonSecondsMember(out, "fastest_seconds", group.fastest);
        jsonSecondsMember(out, "slowest_seconds", group.slowest);
        jsonSecondsMember(out, "end_time_seconds", group.endTime);
        out += "\"laps\": [";
        for (std::size_t i = 0; i < group.laps.size(); ++i) {
            const LapRow& lap = group.laps[i];
            out += i == 0 ? "\n    {\"lap\": " : ",\n    {\"lap\": ";
            out += std::to_string(lap.lap);
            out += ", ";
            jsonMember(out, "lap_time", lap.lapTime);
            jsonMember(out, "split_time", lap.splitTime);
            jsonSecondsMember(out, "lap_seconds", lap.lapTime);
            out += "\"split_seconds\": ";
            jsonSeconds(out, lap.splitTime);
            out += '}';
        }
        out += group.laps.empty() ? "]}" : "\n  ]}";
    }

    void End(std::string& out) override { out += any ? "\n]\n" : "]\n"; }

private:
    bool any = false;
};

} // namespace

void AppendUtf8(std::string& out, std::string_view bytes) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (const std::size_t n = utf8Sequence(bytes.substr(i))) {
            i += n;
            continue;
        }
        out.append(bytes.substr(start, i - start));
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
        start = ++i;
    }
    out.append(bytes.substr(start));
}

std::unique_ptr<TableWriter> MakeTableWriter(Format format) {
    if (format == Format::json)
        return std::make_unique<JsonWriter>();
    return std::make_unique<CsvWriter>();
}

} // namespace exporter
