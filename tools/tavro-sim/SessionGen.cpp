// SPDX-License-Identifier: MIT
#include "SessionGen.h"

#include "Random.h"
#include "SessionFile.h"

#include <algorithm>
#include <chrono>

namespace sim {

const char* const DemoSessionText = R"(# Tuesday morning: 400 m repeats
group 1
date 2024-05-14
lap 1 0:01'17.74
lap 2 0:01'20.35
lap 3 0:01'20.79
lap 4 0:01'20.53
lap 5 0:01'19.89
lap 6 0:01'18.46
average 0:01'19.63
fastest 0:01'17.74
slowest 0:01'20.79
end 0:07'57.76

group 2
date 2024-05-14
lap 1 0:01'13.58
lap 2 0:01'13.50
lap 3 0:01'13.69
lap 4 0:01'12.57
lap 5 0:01'15.57
lap 6 0:01'14.50
lap 7 0:01'13.75
lap 8 0:01'14.58
end 0:09'51.74

group 3
date 2024-05-14
lap 1 0:01'13.20
lap 2 0:01'11.73
lap 3 0:01'11.71
lap 4 0:01'10.30
lap 5 0:01'11.04
lap 6 0:01'10.84
lap 7 0:01'11.31
lap 8 0:01'11.53
lap 9 0:01'11.03
lap 10 0:01'11.54
average 0:01'11.42
fastest 0:01'10.30
slowest 0:01'13.20
end 0:11'54.23

group 4
date 2024-05-14
lap 1 0:01'08.43
lap 2 0:01'08.43
lap 3 0:01'07.84
lap 4 0:01'05.96
average 0:01'07.66
fastest 0:01'05.96
slowest 0:01'08.43
end 0:04'30.66

# cool-down, stopped without an end time
group 5
date 2024-05-14
lap 1 0:01'31.02
lap 2 0:01'33.02
lap 3 0:01'33.60

# Thursday
group 6
date 2024-05-16
lap 1 0:01'11.59
lap 2 0:01'09.60
lap 3 0:01'09.04
lap 4 0:01'08.25
lap 5 0:01'11.53
average 0:01'10.00
fastest 0:01'08.25
slowest 0:01'11.59
end 0:05'50.01
)";

SimSession DemoSession() {
    return ParseSession(DemoSessionText, "demo");
}

namespace {

using namespace std::chrono;

constexpr std::uint8_t headerRunByte = 0xAA;

class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng(seed) {
        number = rng.Between(1, 60);
        day = sys_days(year_month_day(year(2000 + static_cast<int>(rng.Between(0, 99))), month(rng.Between(1, 12)),
                                      std::chrono::day(rng.Between(1, 28))));
    }

    SimGroup Make() {
        SimGroup group;
        if (rng.Percent(12))
            day += days(rng.Between(1, 3));
        if (rng.PerMille(997))
            number = (number + (rng.Percent(3) ? rng.Between(2, 20) : 1)) % (maxIndex + 1);
        if (rng.PerMille(10))
            return group; // header unit and end record only
        Fill(group.records);
        if (rng.Percent(50))
            for (SimRecord& r : group.records)
                r.spare = rng.Byte();
        return group;
    }

private:
    // Any payload byte but 0xAA: three of those in a row could pass for the tail of a header
    // unit and split the group in the program.
    std::uint8_t payloadByte() {
        std::uint8_t b = rng.Byte();
        while (b == headerRunByte)
            b = rng.Byte();
        return b;
    }

    SimRecord numberRecord() {
        SimRecord r = SimRecord::Number(number);
        for (auto& b : r.payload)
            b = payloadByte();
        return r;
    }

    SimRecord dateRecord() {
        const year_month_day ymd(day);
        SimRecord r = SimRecord::Date({static_cast<unsigned>(static_cast<int>(ymd.year()) % 100),
                                       static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                                       weekday(day).c_encoding()});
        if (rng.Percent(2))
            r.date.weekday = rng.Between(7, 15);
        return r;
    }

    SimTime lapTime(std::uint32_t pace, bool longLaps) {
        if (longLaps)
            return {false, rng.Between(hundredthsPerHour, 3 * hundredthsPerHour)};
        return {false, pace - 300 + rng.Between(0, 600)};
    }

    static SimRecord timeRecord(RecordKind kind, SimTime time, unsigned index = 0) {
        return SimRecord::Time(kind, time, index);
    }

    void Fill(std::vector<SimRecord>& records) {
        // Group number and date at the front, as the timer sends them; rarely elsewhere or not at all.
        const unsigned numberPlace = rng.Between(0, 99);
        if (numberPlace < 90)
            records.push_back(numberRecord());
        if (rng.Percent(95))
            records.push_back(dateRecord());

        std::vector<SimRecord> laps = makeLaps();
        std::vector<SimTime> lapTimes;
        for (const SimRecord& lap : laps)
            if (lap.kind == RecordKind::lap && lap.index >= 1 && !lap.time.absent)
                lapTimes.push_back(lap.time);
        records.insert(records.end(), laps.begin(), laps.end());

        addStatistics(records, lapTimes);
        addEndTime(records, lapTimes);

        if (rng.Percent(5)) {
            for (unsigned k = rng.Between(1, 3); k > 0; --k) {
                std::uint8_t type = rng.Byte();
                while (IsKnownType(type))
                    type = rng.Byte();
                const unsigned index = rng.Between(0, maxIndex);
                SimRecord r =
                    SimRecord::Unknown(type, index, {payloadByte(), payloadByte(), payloadByte(), payloadByte()});
                records.insert(records.begin() + static_cast<std::ptrdiff_t>(rng.Below(records.size() + 1)), r);
            }
        }
        if (rng.Percent(5) && records.size() > 1) {
            // A single time sent ahead of the laps.
            const SimRecord moved = records.back();
            records.pop_back();
            records.insert(records.begin() + static_cast<std::ptrdiff_t>(rng.Below(records.size() + 1)), moved);
        }
        if (numberPlace >= 90 && numberPlace < 94)
            records.insert(records.begin() + static_cast<std::ptrdiff_t>(rng.Below(records.size() + 1)),
                           numberRecord());
        if (numberPlace >= 97) {
            records.insert(records.begin(), numberRecord());
            number = (number + 1) % (maxIndex + 1);
            records.push_back(numberRecord()); // the later one is shown
        }
    }

    std::vector<SimRecord> makeLaps() {
        std::vector<SimRecord> laps;
        if (rng.PerMille(3)) {
            // Only the 999th lap: 998 missing slots before it.
            laps.push_back(timeRecord(RecordKind::lap, lapTime(7000, false), maxIndex));
            return laps;
        }
        unsigned count = rng.Between(3, 12);
        if (rng.Percent(3))
            count = 0;
        else if (rng.Percent(3))
            count = rng.Between(20, 150);
        const std::uint32_t pace = rng.Between(5500, 9500);
        const bool longLaps = rng.Percent(1);
        for (unsigned i = 1; i <= count; ++i)
            laps.push_back(timeRecord(RecordKind::lap, lapTime(pace, longLaps), i));
        if (laps.empty())
            return laps;

        auto at = [&](std::size_t limit) { return static_cast<std::ptrdiff_t>(rng.Below(limit)); };
        if (rng.Percent(3))
            laps[static_cast<std::size_t>(at(laps.size()))].time = SimTime::Absent();
        if (rng.Percent(3) && laps.size() > 1)
            laps.erase(laps.begin() + at(laps.size() - 1)); // a skipped lap: a missing slot
        if (rng.Percent(2))
            laps.insert(laps.begin() + at(laps.size() + 1), timeRecord(RecordKind::lap, lapTime(pace, false), 0));
        if (rng.Percent(3) && laps.size() > 1) {
            const auto k = static_cast<std::size_t>(at(laps.size() - 1));
            std::swap(laps[k], laps[k + 1]);
        }
        if (rng.Percent(2)) {
            SimRecord again = laps[static_cast<std::size_t>(at(laps.size()))];
            again.time = lapTime(pace, false);
            laps.push_back(again);
        }
        if (rng.Percent(5)) {
            // The timer's own split records, right after their lap or ahead of it.
            std::uint32_t sum = 0;
            std::vector<SimRecord> withSplits;
            for (const SimRecord& lap : laps) {
                sum += lap.time.hundredths;
                withSplits.push_back(lap);
                if (lap.kind == RecordKind::lap && lap.index >= 1 && rng.Percent(40)) {
                    SimRecord split = timeRecord(RecordKind::split, {false, sum % timeModulus}, lap.index);
                    if (rng.Percent(20))
                        split.time = rng.Percent(50) ? SimTime::Absent() : lapTime(pace, false);
                    withSplits.insert(rng.Percent(80) ? withSplits.end() : withSplits.end() - 1, split);
                }
            }
            laps = std::move(withSplits);
        }
        if (rng.Percent(2)) {
            // Splits only: the report shows no lap lines at all.
            for (SimRecord& r : laps)
                r.kind = RecordKind::split;
        }
        return laps;
    }

    void addStatistics(std::vector<SimRecord>& records, const std::vector<SimTime>& lapTimes) {
        const unsigned choice = rng.Between(0, 99);
        if (choice >= 65 || lapTimes.empty())
            return;
        std::uint64_t sum = 0;
        std::uint32_t fastest = lapTimes[0].hundredths, slowest = lapTimes[0].hundredths;
        for (const SimTime& t : lapTimes) {
            sum += t.hundredths;
            fastest = std::min(fastest, t.hundredths);
            slowest = std::max(slowest, t.hundredths);
        }
        const auto average = static_cast<std::uint32_t>((sum + lapTimes.size() / 2) / lapTimes.size());
        const bool some = choice >= 50; // only some of the three were sent
        auto maybeAbsent = [&](std::uint32_t value) {
            return rng.Percent(5) ? SimTime::Absent() : SimTime{false, value};
        };
        if (!some || rng.Percent(50))
            records.push_back(timeRecord(RecordKind::averageLap, maybeAbsent(average)));
        if (!some || rng.Percent(50))
            records.push_back(timeRecord(RecordKind::fastestLap, maybeAbsent(fastest)));
        if (!some || rng.Percent(50))
            records.push_back(timeRecord(RecordKind::slowestLap, maybeAbsent(slowest)));
    }

    void addEndTime(std::vector<SimRecord>& records, const std::vector<SimTime>& lapTimes) {
        std::uint32_t total = 0;
        for (const SimTime& t : lapTimes)
            total = (total + t.hundredths) % timeModulus;
        const unsigned choice = rng.Between(0, 99);
        if (choice < 75)
            records.push_back(timeRecord(RecordKind::endTime, {false, total}));
        else if (choice < 83)
            records.push_back(timeRecord(RecordKind::endTime, {false, total > 500 ? total - rng.Between(1, 500) : 0}));
        else if (choice < 88)
            records.push_back(timeRecord(RecordKind::endTime, SimTime::Absent()));
    }

    Random rng;
    unsigned number = 0;
    sys_days day;
};

} // namespace

SimSession GenerateSession(std::uint64_t seed, std::size_t count) {
    Generator generator(seed);
    SimSession session;
    session.groups.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        session.groups.push_back(generator.Make());
    return session;
}

} // namespace sim
