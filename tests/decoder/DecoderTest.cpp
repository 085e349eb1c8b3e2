// SPDX-License-Identifier: MIT
#include "ReceivedData.h"
#include "Wire.h"
#include "WorkedExample.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>

namespace {

using wire::Bytes;

constexpr unsigned char replyGood = 0xFA;
constexpr unsigned char replyBad = 0xF0;

// What the receiver thread would do with a stream: the blocks it shows and the bytes it writes.
struct Outcome {
    std::vector<std::string> reports;
    Bytes replies;
    bool operator==(const Outcome&) const = default;
};

struct Feeder {
    TReceivedData d;
    std::vector<unsigned char> reportText;
    Outcome out;

    void poll(const Bytes& bytes = {}) {
        d.Append(bytes);
        d.Process(reportText);
        if (d.groupComplete)
            out.reports.push_back(wire::text(reportText));
        if (d.endRecordSeen)
            out.replies.push_back(d.checksumError ? replyBad : replyGood);
    }
    // Feeds a stream in pieces of `chunk` bytes, then polls without new bytes for as long as
    // the last poll completed a group (as the thread's next polls would).
    void feed(const Bytes& stream, std::size_t chunk) {
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk)
            poll(Bytes(stream.begin() + pos, stream.begin() + std::min(stream.size(), pos + chunk)));
        while (d.groupComplete)
            poll();
    }
};

Outcome decode(const Bytes& stream, std::size_t chunk) {
    Feeder f;
    f.feed(stream, chunk);
    return f.out;
}

Bytes lapRecord(unsigned n, unsigned seconds) {
    return wire::record(wire::lap, n, wire::timePayload(0, 1, seconds, 0));
}

TEST(DecoderTest, WorkedExampleInAnyChunking) {
    for (std::size_t chunk = 1; chunk <= example::groupBytes.size() + 1; ++chunk) {
        const Outcome o = decode(example::groupBytes, chunk);
        ASSERT_EQ(o.reports, std::vector<std::string>{example::reportText("\r")}) << "chunk " << chunk;
        EXPECT_EQ(o.replies, Bytes{replyGood}) << "chunk " << chunk;
    }
}

TEST(DecoderTest, HeaderSearchResumesAcrossPolls) {
    Feeder f;
    const Bytes head = wire::header(0x05, 0x77, 0x3A); // free nibbles are ignored
    f.poll(Bytes(head.begin(), head.begin() + 5));
    EXPECT_FALSE(f.d.IsRecognised());
    EXPECT_EQ(f.d.scanPos, 0u);
    EXPECT_EQ(f.d.matchLen, 5u);
    f.poll(Bytes(head.begin() + 5, head.end()));
    EXPECT_TRUE(f.d.IsRecognised());
    EXPECT_EQ(f.d.headerCount, 1u);
    EXPECT_FALSE(f.d.groupComplete);
    EXPECT_FALSE(f.d.endRecordSeen);
    EXPECT_EQ(f.d.buffer, head); // open: the header unit sits at position 0
}

TEST(DecoderTest, HeaderMaskRejectsFixedBits) {
    // Each row breaks one bit that the mask examines.
    const std::vector<std::pair<std::size_t, unsigned char>> breaks{{0, 0xAA}, {1, 0xC1}, {2, 0x10}, {4, 0x0B},
                                                                    {5, 0xAB}, {6, 0x2A}, {7, 0xA8}};
    for (const auto& [offset, value] : breaks) {
        Bytes head = wire::header();
        head[offset] = value;
        Feeder f;
        f.poll(head);
        EXPECT_FALSE(f.d.IsRecognised()) << "byte " << offset;
    }
}

TEST(DecoderTest, RecognitionLatchesUntilCleared) {
    Feeder f;
    f.poll(wire::header());
    f.poll(Bytes(40, 0x55));
    EXPECT_TRUE(f.d.IsRecognised());
    f.d.SetRecognised(false);
    f.poll(Bytes(8, 0x55));
    EXPECT_FALSE(f.d.IsRecognised());
}

TEST(DecoderTest, EmptyGroupCompletes) {
    const Outcome o = decode(wire::groupBytes({}), 96);
    ASSERT_EQ(o.reports.size(), 1u);
    EXPECT_EQ(o.reports[0],
              "MCH:       \t\r\rRecord Date:\t\r\r\rEnd Time:       \t\r" + std::string(72, '-') + "\r\r");
    EXPECT_EQ(o.replies, Bytes{replyGood});
}

TEST(DecoderTest, GroupCompletesOnThePollThatBringsTheEndRecord) {
    const Bytes g = wire::groupBytes({lapRecord(1, 10), lapRecord(2, 20), lapRecord(3, 30)});
    Feeder f;
    f.poll(Bytes(g.begin(), g.end() - 1));
    EXPECT_FALSE(f.d.endRecordSeen);
    f.poll();
    EXPECT_FALSE(f.d.endRecordSeen);
    EXPECT_EQ(f.d.laps.size(), 3u); // parsed again with the same result
    f.poll(Bytes(g.end() - 1, g.end()));
    EXPECT_TRUE(f.d.groupComplete);
    EXPECT_EQ(f.out.replies, Bytes{replyGood});
    EXPECT_TRUE(f.d.laps.empty());
    // The next call without new bytes: nothing due, buffer back to its idle tail.
    f.poll();
    EXPECT_FALSE(f.d.groupComplete);
    EXPECT_FALSE(f.d.endRecordSeen);
    EXPECT_EQ(f.d.headerCount, 0u);
    EXPECT_LE(f.d.buffer.size(), 16u);
    EXPECT_EQ(f.out.replies, Bytes{replyGood});
}

TEST(DecoderTest, WrongCheckValueIsAnsweredOnce) {
    const std::vector<Bytes> records{lapRecord(1, 10), wire::record(wire::group, 12, {})};
    Feeder f;
    f.poll(wire::concat({Bytes(30, 0x55), wire::groupBytes(records, true)})); // after line noise
    EXPECT_TRUE(f.d.endRecordSeen);
    EXPECT_TRUE(f.d.checksumError);
    f.poll();
    f.poll();
    EXPECT_FALSE(f.d.endRecordSeen);
    EXPECT_TRUE(f.out.reports.empty());
    EXPECT_EQ(f.out.replies, Bytes{replyBad});
    // The timer sends it again; it arrives whole in one poll, the stale group being parsed a
    // last time in the same call. Shown once, answered 0xFA alone.
    f.poll(wire::groupBytes(records));
    ASSERT_EQ(f.out.reports.size(), 1u);
    EXPECT_EQ(f.out.replies, (Bytes{replyBad, replyGood}));
    f.poll();
    f.poll();
    EXPECT_EQ(f.out.reports.size(), 1u);
    EXPECT_EQ(f.out.replies.size(), 2u);
}

TEST(DecoderTest, RefusedGroupIsNotAnsweredOnceTheTimerSendsAnew) {
    const std::vector<Bytes> records{lapRecord(1, 10), lapRecord(2, 20)};
    const Bytes bad = wire::groupBytes(records, true);
    const Bytes good = wire::groupBytes(records);
    // The new header unit arrives before the resend's end record: no 0xF0 for the old group
    // may reach the timer as if it answered the resend.
    Feeder f;
    f.poll(bad);
    f.poll(Bytes(good.begin(), good.begin() + 12));
    f.poll(Bytes(good.begin() + 12, good.end()));
    EXPECT_EQ(f.out.replies, (Bytes{replyBad, replyGood}));
    EXPECT_EQ(f.out.reports.size(), 1u);
    // A refused group and the start of the next sending in one poll: the refused one is not
    // answered at all, since the timer has already moved on.
    Feeder g;
    g.poll(wire::concat({bad, Bytes(good.begin(), good.begin() + 20)}));
    EXPECT_FALSE(g.d.endRecordSeen);
    g.poll(Bytes(good.begin() + 20, good.end()));
    EXPECT_EQ(g.out.replies, Bytes{replyGood});
}

TEST(DecoderTest, BrokenUnitKeepsGroupOpenUntilANewHeader) {
    Bytes broken = wire::groupBytes({lapRecord(1, 10), lapRecord(2, 20)});
    broken[16] = 0x00; // byte 0 of the second record
    Feeder f;
    f.poll(broken);
    f.poll();
    EXPECT_EQ(f.d.headerCount, 1u);
    EXPECT_TRUE(f.out.replies.empty());
    f.poll(wire::groupBytes({lapRecord(1, 11)}));
    ASSERT_EQ(f.out.reports.size(), 1u);
    EXPECT_NE(f.out.reports[0].find("Lap1:\t0:01'11.00"), std::string::npos);
    EXPECT_EQ(f.out.reports[0].find("Lap2"), std::string::npos);
    EXPECT_EQ(f.out.replies, Bytes{replyGood});
}

TEST(DecoderTest, GarbageNeverGrowsTheBuffer) {
    std::mt19937 rng(7);
    for (const std::size_t chunk : {1u, 5u, 16u, 17u, 96u, 5000u}) {
        Feeder f;
        for (int poll = 0; poll < 200; ++poll) {
            Bytes junk(chunk);
            for (auto& b : junk)
                b = static_cast<unsigned char>(rng() % 0xAB); // never a header's first byte
            f.poll(junk);
            ASSERT_LE(f.d.buffer.size(), 16u);
            ASSERT_LE(f.d.scanPos, f.d.buffer.size());
        }
        EXPECT_FALSE(f.d.IsRecognised());
    }
}

// A report depends only on its group's bytes, however they fall into polls.
TEST(DecoderTest, ReportDependsOnlyOnTheGroup) {
    // Lap 2 before lap 1: split 2 is computed from split 1 as it stands, i.e. missing.
    const Bytes outOfOrder = wire::groupBytes({lapRecord(2, 20), lapRecord(1, 10)});
    const Outcome whole = decode(outOfOrder, outOfOrder.size());
    ASSERT_EQ(whole.reports.size(), 1u);
    EXPECT_NE(whole.reports[0].find("Lap2:\t0:01'20.00\tSplit2:\txxxxxxx"), std::string::npos);
    for (std::size_t chunk = 1; chunk < outOfOrder.size(); ++chunk)
        EXPECT_EQ(decode(outOfOrder, chunk), whole) << "chunk " << chunk;

    // An unfinished group's laps and statistics do not leak into the next group.
    Bytes unfinished = wire::groupBytes({lapRecord(1, 1), lapRecord(2, 2), lapRecord(3, 3),
                                         wire::record(wire::fastest, 0, wire::timePayload(0, 0, 1, 0))});
    unfinished.resize(unfinished.size() - 8); // no end record
    const Bytes next = wire::groupBytes({lapRecord(1, 40)});
    const Outcome o = decode(wire::concat({unfinished, next}), 96);
    ASSERT_EQ(o.reports.size(), 1u);
    EXPECT_EQ(o.reports[0].find("Lap2"), std::string::npos);
    EXPECT_EQ(o.reports[0].find("Fastest"), std::string::npos);
    EXPECT_EQ(o.reports[0], decode(next, 96).reports[0]);
}

TEST(DecoderTest, TwoGroupsInOnePollAreBothDelivered) {
    const Bytes first = wire::groupBytes({wire::record(wire::group, 1, {}), lapRecord(1, 1)});
    const Bytes second = wire::groupBytes({wire::record(wire::group, 2, {}), lapRecord(1, 2)});
    const Bytes third = wire::groupBytes({wire::record(wire::group, 3, {})});
    Feeder f;
    f.poll(wire::concat({first, Bytes{1, 2, 3}, second, third}));
    EXPECT_TRUE(f.d.groupComplete);
    f.poll();
    EXPECT_TRUE(f.d.groupComplete);
    f.poll();
    EXPECT_TRUE(f.d.groupComplete);
    f.poll();
    EXPECT_FALSE(f.d.groupComplete);
    ASSERT_EQ(f.out.reports.size(), 3u);
    EXPECT_EQ(f.out.reports[0].substr(0, 15), "MCH:       \t001");
    EXPECT_EQ(f.out.reports[1].substr(0, 15), "MCH:       \t002");
    EXPECT_EQ(f.out.reports[2].substr(0, 15), "MCH:       \t003");
    EXPECT_EQ(f.out.replies, (Bytes{replyGood, replyGood, replyGood}));
}

TEST(DecoderTest, GroupObserverSeesEachCompletedGroupBeforeItIsCleared) {
    // A refused sending, then two good groups in one poll: the observer runs once per good
    // group, with that group's own values, never for the refused one.
    const Bytes refused = wire::groupBytes({wire::record(wire::group, 9, {}), lapRecord(1, 9)}, true);
    const Bytes first = wire::groupBytes({wire::record(wire::group, 1, {}), lapRecord(1, 1), lapRecord(2, 2),
                                          wire::record(wire::fastest, 0, wire::timePayload(0, 1, 1, 0)),
                                          wire::record(wire::endTime, 0, wire::timePayload(0, 0, 1, 0))});
    const Bytes second = wire::groupBytes({wire::record(wire::group, 2, {})});
    struct Seen {
        std::string group;
        std::vector<std::string> laps;
        bool hasFastest;
        std::string endTimeField;
        std::string report;
        bool operator==(const Seen&) const = default;
    };
    Feeder f;
    std::vector<Seen> seen;
    f.d.onGroupComplete = [&](const TReceivedData& d) {
        std::vector<std::string> laps;
        for (const TMyTime& t : d.laps)
            laps.push_back(t.text);
        seen.push_back(
            {d.groupNumber.text, laps, d.hasFastest, std::string(d.EndTimeField()), wire::text(f.reportText)});
    };
    f.feed(refused, 8);
    EXPECT_TRUE(seen.empty());
    f.feed(wire::concat({first, second}), 4096);
    ASSERT_EQ(f.out.reports.size(), 2u);
    EXPECT_EQ(seen, (std::vector<Seen>{{"001", {"0:01'01.00", "0:01'02.00"}, true, " ", f.out.reports[0]},
                                       {"002", {}, false, "", f.out.reports[1]}}));
}

TEST(DecoderTest, DateAndGroupNumberCarryOverToTheNextGroup) {
    const Bytes first = wire::groupBytes(
        {wire::record(wire::group, 5, {}), wire::record(wire::date, 0, wire::datePayload(7, 11, 22, 4))});
    const Bytes second = wire::groupBytes({lapRecord(1, 5)});
    const Outcome o = decode(wire::concat({first, second}), 96);
    ASSERT_EQ(o.reports.size(), 2u);
    EXPECT_TRUE(o.reports[1].starts_with("MCH:       \t005\r\rRecord Date:\t2007-11-22\tThursday\r")) << o.reports[1];
}

TEST(DecoderTest, OpenGroupIsCapped) {
    Bytes stuck = wire::header();
    const Bytes bad{0x00, 1, 2, 3, 4, 5, 6, 7};
    stuck.insert(stuck.end(), bad.begin(), bad.end());
    Feeder f;
    f.poll(stuck);
    const Bytes filler(64 * 1024, 0x11);
    std::size_t fed = stuck.size();
    while (fed <= TReceivedData::openGroupLimit) {
        f.poll(filler);
        fed += filler.size();
        ASSERT_LE(f.d.buffer.size(), TReceivedData::openGroupLimit + filler.size());
    }
    EXPECT_EQ(f.d.headerCount, 0u);
    EXPECT_LE(f.d.buffer.size(), 16u);
    EXPECT_TRUE(f.d.IsRecognised());
    // The decoder goes on normally afterwards.
    f.poll(wire::groupBytes({lapRecord(1, 9)}));
    EXPECT_EQ(f.out.reports.size(), 1u);
    EXPECT_EQ(f.out.replies, Bytes{replyGood});
}

// A long session: groups with random content, garbage and failed transmissions in between.
struct Session {
    Bytes stream;
    std::vector<unsigned> goodGroups; // group numbers of the groups that must be shown, in order
};

Session generateSession(unsigned seed, int groups) {
    std::mt19937 rng(seed);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    Session s;
    for (int g = 0; g < groups; ++g) {
        const unsigned number = static_cast<unsigned>(g % 1000);
        std::vector<Bytes> records{wire::record(wire::group, number, {})};
        if (pick(2))
            records.push_back(
                wire::record(wire::date, 0, wire::datePayload(pick(100), 1 + pick(12), 1 + pick(28), pick(16))));
        const unsigned laps = pick(25);
        for (unsigned i = 1; i <= laps; ++i)
            records.push_back(wire::record(wire::lap, i, wire::timePayload(0, pick(3), pick(60), pick(100))));
        if (pick(3) == 0)
            records.push_back(wire::record(wire::split, 1 + pick(30), wire::timePayload(0, pick(10), pick(60), 0)));
        if (pick(2))
            for (unsigned type : {wire::average, wire::fastest, wire::slowest})
                records.push_back(wire::record(type, 0, wire::timePayload(0, 1, pick(60), pick(100))));
        if (pick(4) == 0)
            records.push_back(wire::record(0x9C, pick(1000), {0xAB, 0xCD, 0xEF, 0x01})); // unknown type
        records.push_back(
            wire::record(wire::endTime, 0, pick(8) ? wire::timePayload(0, 9, 0, 0) : wire::absentTimePayload()));
        std::shuffle(records.begin() + 1, records.end(), rng);

        if (pick(5) == 0) // a failed transmission first, answered 0xF0 and sent again
            s.stream = wire::concat({s.stream, wire::groupBytes(records, true)});
        if (pick(3) == 0) {
            Bytes junk(pick(40));
            for (auto& b : junk)
                b = static_cast<unsigned char>(pick(0xAB));
            s.stream = wire::concat({s.stream, junk});
        }
        s.stream = wire::concat(
            {s.stream, wire::groupBytes(records, false, wire::header(pick(16), pick(256), 0x0A | pick(16) << 4))});
        s.goodGroups.push_back(number);
    }
    return s;
}

TEST(DecoderTest, EveryGoodGroupComesOutOnceInOrderWhateverTheChunking) {
    for (const unsigned seed : {1u, 2u, 3u}) {
        const Session s = generateSession(seed, 150);
        const Outcome reference = decode(s.stream, 96);
        ASSERT_EQ(reference.reports.size(), s.goodGroups.size()) << "seed " << seed;
        for (std::size_t i = 0; i < s.goodGroups.size(); ++i) {
            char expected[32];
            std::snprintf(expected, sizeof expected, "MCH:       \t%03u\r", s.goodGroups[i]);
            ASSERT_EQ(reference.reports[i].substr(0, 16), expected) << "seed " << seed << " group " << i;
        }
        EXPECT_EQ(std::count(reference.replies.begin(), reference.replies.end(), replyGood),
                  static_cast<long>(s.goodGroups.size()));
        for (const std::size_t chunk : {1u, 2u, 3u, 7u, 8u, 9u, 13u, 64u, 500u, 4096u}) {
            const Outcome o = decode(s.stream, chunk);
            EXPECT_EQ(o.reports, reference.reports) << "seed " << seed << " chunk " << chunk;
            // Replies per group agree; a failed group is answered 0xF0 at least once.
            EXPECT_EQ(std::count(o.replies.begin(), o.replies.end(), replyGood), static_cast<long>(s.goodGroups.size()))
                << "seed " << seed << " chunk " << chunk;
        }
        const Outcome all = decode(s.stream, s.stream.size());
        EXPECT_EQ(all.reports, reference.reports);
    }
}

// --- The resumed parse against a parse from the header unit on every call ------------------

// Everything a caller can read after a call.
struct Visible {
    bool groupComplete, checksumError, endRecordSeen, recognised;
    std::string report;
    std::string date, group, endTime, average, fastest, slowest;
    bool hasAverage, hasFastest, hasSlowest;
    std::vector<std::string> laps, splits;
    std::uint32_t checkValue, headerCount;
    std::size_t bufferSize, scanPos;
    bool operator==(const Visible&) const = default;
};

void PrintTo(const Visible& v, std::ostream* os) {
    *os << "flags " << v.groupComplete << v.checksumError << v.endRecordSeen << v.recognised << " has " << v.hasAverage
        << v.hasFastest << v.hasSlowest << " check " << v.checkValue << " headers " << v.headerCount << " buffer "
        << v.bufferSize << " scan " << v.scanPos << " group " << v.group << " date " << ::testing::PrintToString(v.date)
        << " times " << v.endTime << "/" << v.average << "/" << v.fastest << "/" << v.slowest << "\n laps "
        << ::testing::PrintToString(v.laps) << "\n splits " << ::testing::PrintToString(v.splits) << "\n report "
        << ::testing::PrintToString(v.report);
}

Visible visible(const TReceivedData& d, const std::vector<unsigned char>& reportText) {
    std::vector<std::string> laps, splits;
    for (const TMyTime& t : d.laps)
        laps.push_back(t.text);
    for (const TMyTime& t : d.splits)
        splits.push_back(t.text);
    return {d.groupComplete,
            d.checksumError,
            d.endRecordSeen,
            d.IsRecognised(),
            wire::text(reportText),
            d.date.text,
            d.groupNumber.text,
            d.endTime.text,
            d.averageLap.text,
            d.fastestLap.text,
            d.slowestLap.text,
            d.hasAverage,
            d.hasFastest,
            d.hasSlowest,
            laps,
            splits,
            d.checkValue,
            d.headerCount,
            d.buffer.size(),
            d.scanPos};
}

Visible visible(const Feeder& f) {
    return visible(f.d, f.reportText);
}

// Through Process a section that a new header unit cuts short is discarded in the same call,
// but ParseSection itself keeps to its bytes: going on where its last parse stopped, after
// that parse took a record ending with the buffer's last byte without decoding it, equals a
// parse from the header unit also when a header unit that begins inside that record now ends
// the section before it.
TEST(DecoderTest, SectionCutShortInsideATakenRecordShowsNothingOfIt) {
    struct Row {
        const char* name;
        std::vector<Bytes> records;
        unsigned type; // of the record taken last
        unsigned index;
    };
    const Bytes split1 = wire::record(wire::split, 1, wire::timePayload(0, 2, 0, 0));
    const Bytes split2 = wire::record(wire::split, 2, wire::timePayload(0, 4, 0, 0));
    const std::vector<Row> rows{
        {"lap overwrites the split of its number", {lapRecord(1, 1), split2}, wire::lap, 2},
        {"lap 1 overwrites split 1", {split1}, wire::lap, 1},
        {"lap grows both lists", {lapRecord(1, 1)}, wire::lap, 3},
        {"split grows the splits", {lapRecord(1, 1)}, wire::split, 4},
        {"average sets its flag", {lapRecord(1, 1)}, wire::average, 0},
        {"fastest sets its flag", {}, wire::fastest, 0},
        {"slowest sets its flag", {split1}, wire::slowest, 0},
    };
    for (const Row& row : rows) {
        std::vector<unsigned char> report;
        TReceivedData d;
        d.buffer = wire::groupBytes(row.records);
        d.buffer.resize(d.buffer.size() - 8); // no end record
        const std::size_t taken = d.buffer.size();
        d.buffer = wire::concat({d.buffer, wire::record(row.type, row.index, {0x01, 0xAB, 0xC0, 0x00})});
        EXPECT_FALSE(d.ParseSection(0, d.buffer.size(), report)) << row.name;
        d.buffer = wire::concat({d.buffer, {0xAB, 0x0A, 0xAA, 0xAA, 0xAA}});
        const std::size_t nextHeader = taken + 5;
        EXPECT_FALSE(d.ParseSection(0, nextHeader, report)) << row.name;

        TReceivedData fresh;
        fresh.buffer = d.buffer;
        fresh.ParseSection(0, nextHeader, report);
        EXPECT_EQ(visible(d, report), visible(fresh, report)) << row.name;
    }
}

// A stream that a real line could bring and one that no timer sends: header units (some
// beginning inside a record), long open groups, records of every type with small indices in
// any order (lap n before split n-1, the same index twice), payloads with digits above 9,
// units that are not records, good and refused end records, noise of any length. `cuts` are
// places where a poll boundary tests the parse's stop: right after a record, and within a
// header unit that began inside the record before it.
struct Unruly {
    Bytes bytes;
    std::vector<std::size_t> cuts;
};

Unruly unrulyStream(std::mt19937& rng, std::size_t size) {
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    auto byte = [&] { return static_cast<unsigned char>(rng()); };
    Unruly u;
    Bytes& out = u.bytes;
    wire::Payload check{};
    const auto add = [&](const Bytes& unit) { out.insert(out.end(), unit.begin(), unit.end()); };
    const auto anyRecord = [&](std::optional<wire::Payload> payload = {}, std::optional<unsigned> type = {}) {
        static constexpr unsigned types[] = {wire::lap,     wire::lap,     wire::split, wire::split,   wire::lap,
                                             wire::split,   wire::date,    wire::group, wire::endTime, wire::average,
                                             wire::fastest, wire::slowest, 0x9C,        0x00};
        if (!type)
            type = types[pick(std::size(types))];
        const unsigned index = pick(10) == 0 ? pick(1000) : pick(9);
        if (!payload) {
            const unsigned kind = pick(8);
            payload = kind == 0   ? wire::absentTimePayload()
                      : kind == 1 ? wire::Payload{byte(), byte(), byte(), byte()}
                                  : wire::timePayload(pick(10), pick(60), pick(60), pick(100));
        }
        const Bytes r = wire::record(*type, index, *payload);
        for (unsigned k = 0; k < 4; ++k)
            check[k] ^= r[4 + k];
        add(r);
        if (pick(8) == 0)
            u.cuts.push_back(out.size());
    };
    while (out.size() < size) {
        const unsigned what = pick(100);
        if (what < 8) {
            add(wire::header(pick(16), byte(), static_cast<unsigned char>(0x0A | pick(16) << 4)));
            check = {};
        } else if (what < 11) {
            // A header unit that begins at byte 5 of a record: AB C0 0x end the record, and
            // the header unit's AB ?A AA AA AA follow. Whether the record belongs to the group
            // shows best in the group number and date, which outlive the group.
            const unsigned type = pick(2) ? wire::group : pick(2) ? wire::date : wire::lap;
            anyRecord(wire::Payload{byte(), 0xAB, 0xC0, static_cast<unsigned char>(pick(16))}, type);
            u.cuts.push_back(out.size());
            u.cuts.push_back(out.size() + 1 + pick(4));
            add({0xAB, static_cast<unsigned char>(0x0A | pick(16) << 4), 0xAA, 0xAA, 0xAA});
            check = {};
        } else if (what < 13) {
            const Bytes head = wire::header();
            add(Bytes(head.begin(), head.begin() + 1 + pick(7)));
        } else if (what < 16) {
            add({static_cast<unsigned char>(pick(0xAB)), 1, 2, 3, 4, 5, 6, 7});
        } else if (what < 23) {
            add(wire::record(wire::end, 0, check));
        } else if (what < 26) {
            wire::Payload bad = check;
            bad[pick(4)] ^= static_cast<unsigned char>(1 + pick(255));
            add(wire::record(wire::end, 0, bad));
        } else if (what < 28) {
            for (unsigned n = 1 + pick(20); n > 0; --n)
                out.push_back(byte());
        } else if (what < 30) {
            for (unsigned n = 100 + pick(500); n > 0; --n)
                anyRecord();
        } else {
            anyRecord();
        }
    }
    return u;
}

// Cuts a stream into polls of any size (empty ones, whole units, often at its `cuts`; up to
// `largest` bytes each before `bulkUntil`) and checks after every call that the resumed parse
// shows what a parse from the header unit shows.
void expectResumeInvisible(const Unruly& stream, std::mt19937& rng, std::size_t largest, std::size_t bulkUntil,
                           const std::string& where) {
    Feeder resumed, full;
    full.d.resumeParse = false;
    const Bytes& bytes = stream.bytes;
    auto nextCut = stream.cuts.begin();
    std::size_t pos = 0;
    for (std::size_t call = 0; pos < bytes.size() || resumed.d.groupComplete || full.d.groupComplete; ++call) {
        const unsigned kind = static_cast<unsigned>(rng() % 20);
        std::size_t n = pos < bulkUntil ? 1 + rng() % largest
                        : kind == 0     ? 0
                        : kind < 6      ? 8 * (1 + rng() % 4)
                        : kind < 12     ? 1 + rng() % 16
                        : kind < 19     ? 1 + rng() % 200
                                        : 1 + rng() % largest;
        while (nextCut != stream.cuts.end() && *nextCut <= pos)
            ++nextCut;
        if (nextCut != stream.cuts.end() && *nextCut <= pos + n && rng() % 2 == 0)
            n = *nextCut - pos;
        n = std::min(n, bytes.size() - pos);
        const Bytes piece(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                          bytes.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        resumed.poll(piece);
        full.poll(piece);
        ASSERT_EQ(visible(resumed), visible(full)) << where << ", call " << call << ", at byte " << pos;
    }
    EXPECT_EQ(resumed.out, full.out) << where;
}

TEST(DecoderTest, ResumedParseShowsWhatAFullParseShows) {
    for (unsigned seed = 1; seed <= 60; ++seed) {
        std::mt19937 rng(seed);
        const Unruly stream = unrulyStream(rng, 24 * 1024);
        expectResumeInvisible(stream, rng, 6000, 0, "seed " + std::to_string(seed));
        if (HasFatalFailure())
            return;
    }
}

TEST(DecoderTest, ResumedParseStartsAfreshWhenAnOpenGroupIsDropped) {
    // Records beyond the cap, which drops the open group, and no header unit for a while after
    // it: the calls in between show an idle decoder. Then groups whose header units may fall
    // where the dropped group's parse had stopped.
    std::mt19937 rng(5);
    Unruly stream{wire::header(), {}};
    for (unsigned i = 0; stream.bytes.size() <= TReceivedData::openGroupLimit + 32 * 1024; ++i) {
        const Bytes r = i % 64 == 0 ? lapRecord(1 + i % 7, i % 60) : wire::record(0x9C, i % 1000, {});
        stream.bytes.insert(stream.bytes.end(), r.begin(), r.end());
    }
    const std::size_t crafted = stream.bytes.size();
    const Unruly after = unrulyStream(rng, 16 * 1024);
    stream.bytes.insert(stream.bytes.end(), after.bytes.begin(), after.bytes.end());
    for (const std::size_t cut : after.cuts)
        stream.cuts.push_back(crafted + cut);
    // Large polls up to shortly before the cap keep the parse from the header unit cheap.
    expectResumeInvisible(stream, rng, 64 * 1024, TReceivedData::openGroupLimit - 2048, "cap");
}

} // namespace
