// SPDX-License-Identifier: MIT
#include "Session.h"

#include <algorithm>
#include <tuple>

namespace sim {

namespace {

constexpr std::uint8_t recordMark = 0xAB;
constexpr std::array<std::uint8_t, unitBytes> headerPattern{0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA};
constexpr std::array<std::uint8_t, unitBytes> headerMask{0xFF, 0xFF, 0xF0, 0x00, 0x0F, 0xFF, 0xFF, 0xFF};
constexpr std::uint8_t absentHourNibble = 0x0F;

constexpr const char* missingText = "xxxxxxx";
constexpr const char* absentText = "-:--'--.--";
constexpr const char* hyphenLine = "------------------------------------------------------------------------";

std::uint8_t typeOf(const SimRecord& record) {
    switch (record.kind) {
    case RecordKind::groupNumber:
        return typeGroupNumber;
    case RecordKind::date:
        return typeDate;
    case RecordKind::lap:
        return typeLap;
    case RecordKind::split:
        return typeSplit;
    case RecordKind::endTime:
        return typeEndTime;
    case RecordKind::averageLap:
        return typeAverageLap;
    case RecordKind::fastestLap:
        return typeFastestLap;
    case RecordKind::slowestLap:
        return typeSlowestLap;
    case RecordKind::unknown:
        break;
    }
    return record.type;
}

bool isTimeKind(RecordKind kind) {
    return kind == RecordKind::lap || kind == RecordKind::split || kind == RecordKind::endTime ||
           kind == RecordKind::averageLap || kind == RecordKind::fastestLap || kind == RecordKind::slowestLap;
}

std::uint8_t bcd(unsigned value) {
    return static_cast<std::uint8_t>((value / 10 % 10) << 4 | value % 10);
}

std::array<std::uint8_t, 4> timePayload(const SimTime& time, std::uint8_t spareNibble) {
    if (time.absent) {
        // Only the hour nibble marks a time absent; the rest is whatever the timer had there.
        return {static_cast<std::uint8_t>(spareNibble << 4 | absentHourNibble), spareNibble, spareNibble, spareNibble};
    }
    const std::uint32_t t = time.hundredths % timeModulus;
    return {static_cast<std::uint8_t>(spareNibble << 4 | t / hundredthsPerHour), bcd(t / 6000 % 60), bcd(t / 100 % 60),
            bcd(t % 100)};
}

std::array<std::uint8_t, 4> datePayload(const SimDate& date, std::uint8_t spareNibble) {
    return {static_cast<std::uint8_t>(spareNibble << 4 | date.year / 10 % 10),
            static_cast<std::uint8_t>((date.year % 10) << 4 | date.month / 10 % 10),
            static_cast<std::uint8_t>((date.month % 10) << 4 | date.day / 10 % 10),
            static_cast<std::uint8_t>((date.day % 10) << 4 | (date.weekday & 0x0F))};
}

std::array<std::uint8_t, 4> payloadOf(const SimRecord& record) {
    const auto spareNibble = static_cast<std::uint8_t>(record.spare & 0x0F);
    if (isTimeKind(record.kind))
        return timePayload(record.time, spareNibble);
    if (record.kind == RecordKind::date)
        return datePayload(record.date, spareNibble);
    return record.payload;
}

std::string twoDigits(unsigned value) {
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// One lap or split slot of the report.
struct Slot {
    enum class State { missing, absent, time } state = State::missing;
    std::uint32_t hundredths = 0;

    static Slot From(const SimTime& time) {
        return time.absent ? Slot{State::absent, 0} : Slot{State::time, time.hundredths % timeModulus};
    }
    std::string Text() const {
        switch (state) {
        case State::missing:
            return missingText;
        case State::absent:
            return absentText;
        case State::time:
            break;
        }
        return TimeText({false, hundredths});
    }
};

// Split n from lap n and split n - 1. A missing split n - 1 leaves split n missing; an absent
// time on either side leaves it absent (the program does not add placeholders digit by digit).
Slot splitAfter(const Slot& lap, const Slot& previousSplit) {
    if (previousSplit.state == Slot::State::missing)
        return {};
    if (lap.state == Slot::State::absent || previousSplit.state == Slot::State::absent)
        return {Slot::State::absent, 0};
    return {Slot::State::time, (lap.hundredths + previousSplit.hundredths) % timeModulus};
}

// Sort key of a printed value under the program's byte-wise comparison: the empty text sorts
// first, then "-:--'--.--" ('-' is below the digits), then time texts in the order of their
// times (all of one width), then "xxxxxxx" ('x' is above the digits).
using OrderKey = std::tuple<int, std::uint32_t>;
OrderKey keyOf(const std::optional<SimTime>& time) {
    if (!time)
        return {0, 0};
    if (time->absent)
        return {1, 0};
    return {2, time->hundredths % timeModulus};
}
OrderKey keyOf(const Slot& slot) {
    switch (slot.state) {
    case Slot::State::absent:
        return {1, 0};
    case Slot::State::time:
        return {2, slot.hundredths};
    case Slot::State::missing:
        break;
    }
    return {3, 0};
}

std::string optionalTimeText(const std::optional<SimTime>& time) {
    return time ? TimeText(*time) : std::string();
}

} // namespace

SimTime SimTime::Of(unsigned hours, unsigned minutes, unsigned seconds, unsigned hundredths) {
    return {false, ((hours * 60 + minutes) * 60 + seconds) * 100 + hundredths};
}

SimRecord SimRecord::Number(unsigned number) {
    SimRecord r;
    r.kind = RecordKind::groupNumber;
    r.index = number;
    return r;
}

SimRecord SimRecord::Date(const SimDate& date) {
    SimRecord r;
    r.kind = RecordKind::date;
    r.date = date;
    return r;
}

SimRecord SimRecord::Time(RecordKind kind, const SimTime& time, unsigned index) {
    SimRecord r;
    r.kind = kind;
    r.time = time;
    r.index = index;
    return r;
}

SimRecord SimRecord::Unknown(std::uint8_t type, unsigned index, const std::array<std::uint8_t, 4>& payload) {
    SimRecord r;
    r.kind = RecordKind::unknown;
    r.type = type;
    r.index = index;
    r.payload = payload;
    return r;
}

bool IsKnownType(std::uint8_t type) {
    switch (type) {
    case typeDate:
    case typeGroupNumber:
    case typeLap:
    case typeSplit:
    case typeEndTime:
    case typeAverageLap:
    case typeFastestLap:
    case typeSlowestLap:
    case typeEnd:
        return true;
    default:
        return false;
    }
}

std::optional<unsigned> GroupNumberOf(const SimGroup& group) {
    std::optional<unsigned> number;
    for (const SimRecord& record : group.records)
        if (record.kind == RecordKind::groupNumber)
            number = record.index;
    return number;
}

Bytes EncodeHeader(std::uint16_t nonce) {
    return {0xAB,
            0xC0,
            static_cast<std::uint8_t>(nonce >> 12 & 0x0F),
            static_cast<std::uint8_t>(nonce >> 4 & 0xFF),
            static_cast<std::uint8_t>((nonce & 0x0F) << 4 | 0x0A),
            0xAA,
            0xAA,
            0xAA};
}

Bytes EncodeRecord(const SimRecord& record) {
    const std::uint8_t type = typeOf(record);
    const unsigned index = record.index % (maxIndex + 1);
    const auto payload = payloadOf(record);
    return {recordMark,
            static_cast<std::uint8_t>((record.spare & 0xF0) | type >> 4),
            static_cast<std::uint8_t>((type & 0x0F) << 4 | index / 100),
            bcd(index % 100),
            payload[0],
            payload[1],
            payload[2],
            payload[3]};
}

std::array<std::uint8_t, 4> CheckValueOf(const SimGroup& group) {
    std::array<std::uint8_t, 4> check{};
    for (const SimRecord& record : group.records) {
        const auto payload = payloadOf(record);
        for (std::size_t k = 0; k < check.size(); ++k)
            check[k] ^= payload[k];
    }
    return check;
}

Bytes EncodeEndRecord(const std::array<std::uint8_t, 4>& checkValue) {
    return {recordMark,    typeEnd >> 4,  (typeEnd & 0x0F) << 4, 0x00,
            checkValue[0], checkValue[1], checkValue[2],         checkValue[3]};
}

Bytes EncodeGroup(const SimGroup& group, const SendOptions& options) {
    Bytes out = EncodeHeader(options.headerNonce);
    out.reserve((group.records.size() + 3) * unitBytes);
    auto putBadUnit = [&] {
        const std::uint8_t first = options.badUnitFirstByte == recordMark ? 0x00 : options.badUnitFirstByte;
        out.push_back(first);
        out.insert(out.end(), unitBytes - 1, 0x00);
    };
    for (std::size_t i = 0; i < group.records.size(); ++i) {
        if (options.badUnitBefore == i)
            putBadUnit();
        const Bytes unit = EncodeRecord(group.records[i]);
        out.insert(out.end(), unit.begin(), unit.end());
    }
    if (options.badUnitBefore && *options.badUnitBefore >= group.records.size())
        putBadUnit();
    auto check = CheckValueOf(group);
    for (std::size_t k = 0; k < check.size(); ++k)
        check[k] ^= options.checkCorruption[k];
    const Bytes end = EncodeEndRecord(check);
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

std::optional<std::size_t> FindStrayHeader(const Bytes& groupBytes) {
    for (std::size_t p = 1; p + unitBytes <= groupBytes.size(); ++p) {
        bool match = true;
        for (std::size_t j = 0; j < unitBytes && match; ++j)
            match = (groupBytes[p + j] & headerMask[j]) == (headerPattern[j] & headerMask[j]);
        if (match)
            return p;
    }
    return std::nullopt;
}

std::string TimeText(const SimTime& time) {
    if (time.absent)
        return absentText;
    const std::uint32_t t = time.hundredths % timeModulus;
    return std::to_string(t / hundredthsPerHour) + ":" + twoDigits(t / 6000 % 60) + "'" + twoDigits(t / 100 % 60) +
           "." + twoDigits(t % 100);
}

std::string DateText(const SimDate& date) {
    static constexpr std::array<const char*, 7> names{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                      "Thursday", "Friday", "Saturday"};
    std::string text = "20" + twoDigits(date.year) + "-" + twoDigits(date.month) + "-" + twoDigits(date.day) + "\t";
    if (date.weekday < names.size())
        text += names[date.weekday];
    return text;
}

std::string ExpectedReport::Block(const SimGroup& group) {
    std::vector<Slot> laps;
    std::vector<Slot> splits;
    std::optional<SimTime> endTime, average, fastest, slowest;

    for (const SimRecord& record : group.records) {
        const unsigned n = record.index;
        switch (record.kind) {
        case RecordKind::groupNumber:
            numberText = std::to_string(n / 100 % 10) + twoDigits(n % 100);
            break;
        case RecordKind::date:
            dateText = DateText(record.date);
            break;
        case RecordKind::lap:
            if (n == 0)
                break;
            laps.resize(std::max<std::size_t>(laps.size(), n));
            splits.resize(std::max<std::size_t>(splits.size(), n));
            laps[n - 1] = Slot::From(record.time);
            splits[n - 1] = n == 1 ? laps[0] : splitAfter(laps[n - 1], splits[n - 2]);
            break;
        case RecordKind::split:
            if (n == 0)
                break;
            splits.resize(std::max<std::size_t>(splits.size(), n));
            splits[n - 1] = Slot::From(record.time);
            break;
        case RecordKind::endTime:
            endTime = record.time;
            break;
        case RecordKind::averageLap:
            average = record.time;
            break;
        case RecordKind::fastestLap:
            fastest = record.time;
            break;
        case RecordKind::slowestLap:
            slowest = record.time;
            break;
        case RecordKind::unknown:
            break;
        }
    }

    std::string block = "MCH:       \t" + numberText + "\r\rRecord Date:\t" + dateText + "\r";
    for (std::size_t i = 0; i < laps.size(); ++i) {
        const std::string number = std::to_string(i + 1);
        block += "\rLap" + number + ":\t" + laps[i].Text() + "\tSplit" + number + ":\t" + splits[i].Text() + "\r";
    }
    block += "\r";
    if (average || fastest || slowest) {
        block += "Average Lap Time:   \t" + optionalTimeText(average) + "\rFastest Lap Time:   \t" +
                 optionalTimeText(fastest) + "\rSlowest Lap Time:   \t" + optionalTimeText(slowest) + "\r";
    }
    block += "\rEnd Time:       \t";
    // An end time that sorts below the last split is replaced by one space.
    if (!laps.empty() && keyOf(splits[laps.size() - 1]) > keyOf(endTime))
        block += " ";
    else
        block += optionalTimeText(endTime);
    block += "\r";
    block += hyphenLine;
    block += "\r\r";
    return block;
}

std::string ExpectedSavedText(const SimSession& session) {
    ExpectedReport report;
    std::string saved;
    for (const SimGroup& group : session.groups) {
        for (const char c : report.Block(group)) {
            saved += c;
            if (c == '\r')
                saved += '\n';
        }
    }
    return saved;
}

} // namespace sim
