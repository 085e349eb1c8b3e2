// SPDX-License-Identifier: MIT
// The simulator's wire bytes and expected text, checked against the wire format's and the
// report's worked examples, and then against the project's decoder for the demo and many
// generated sessions: the two are built independently, so each checks the other.
#include "Session.h"
#include "ProgramPeer.h"
#include "Random.h"
#include "SessionFile.h"
#include "SessionGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using sim::Bytes;

std::vector<std::string> linesOf(const std::string& block) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t cr; (cr = block.find('\r', start)) != std::string::npos; start = cr + 1)
        lines.push_back(block.substr(start, cr - start));
    return lines;
}

std::string blockOf(const std::string& sessionText, std::size_t group = 0) {
    const sim::SimSession session = sim::ParseSession(sessionText, "test");
    sim::ExpectedReport report;
    std::string block;
    for (std::size_t g = 0; g <= group; ++g)
        block = report.Block(session.groups.at(g));
    return block;
}

const std::string hyphens(72, '-');

TEST(SimWire, WorkedExampleGroupHasTheDocumentedBytes) {
    const auto session = sim::ParseSession("group 7\ndate 2008-03-05\nlap 1 0:01'23.45\n", "test");
    const Bytes expected{0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA, 0xAB, 0x01, 0xE0, 0x07, 0x00, 0x00,
                         0x00, 0x00, 0xAB, 0x01, 0x10, 0x00, 0x00, 0x80, 0x30, 0x53, 0xAB, 0x02, 0x20, 0x01,
                         0x00, 0x01, 0x23, 0x45, 0xAB, 0x0F, 0xF0, 0x00, 0x00, 0x81, 0x13, 0x16};
    EXPECT_EQ(sim::EncodeGroup(session.groups[0]), expected);
}

TEST(SimWire, HeaderNonceFillsOnlyTheFreeNibbles) {
    for (const std::uint16_t nonce : {0x0000, 0xFFFF, 0x1234, 0xA5A5}) {
        const Bytes h = sim::EncodeHeader(nonce);
        ASSERT_EQ(h.size(), 8u);
        EXPECT_EQ(h[0], 0xAB);
        EXPECT_EQ(h[1], 0xC0);
        EXPECT_EQ(h[2] & 0xF0, 0x00);
        EXPECT_EQ(h[4] & 0x0F, 0x0A);
        EXPECT_EQ((Bytes{h[5], h[6], h[7]}), (Bytes{0xAA, 0xAA, 0xAA}));
        EXPECT_EQ(static_cast<std::uint16_t>((h[2] & 0x0F) << 12 | h[3] << 4 | h[4] >> 4), nonce);
    }
}

TEST(SimWire, AbsentTimeAndWeekdayWithoutName) {
    const auto session = sim::ParseSession("group\nend absent\ndate 2007-11-22 9\n", "test");
    const Bytes bytes = sim::EncodeGroup(session.groups[0]);
    EXPECT_EQ(bytes[8 + 4] & 0x0F, 0x0F); // hour nibble of the end time
    EXPECT_EQ(bytes[16 + 7], 0x29);       // day units 2, weekday 9
}

TEST(SimWire, StrayHeaderInsideAGroupIsFoundAndRefused) {
    // Type 00 with C in the ignored high nibble of byte 1 and a payload of xA AA AA AA is a
    // header unit to the program.
    sim::SimRecord record = sim::SimRecord::Unknown(0x00, 0, {0x0A, 0xAA, 0xAA, 0xAA});
    sim::SimSession session;
    session.groups.push_back({{sim::SimRecord::Number(1), record}});
    EXPECT_FALSE(sim::FindStrayHeader(sim::EncodeGroup(session.groups[0])));
    session.groups[0].records[1].spare = 0xC0;
    EXPECT_EQ(sim::FindStrayHeader(sim::EncodeGroup(session.groups[0])), 16u);
    EXPECT_THROW(sim::CheckPlayable(session, "test"), sim::SessionError);
}

TEST(SimExpected, WorkedReportExample) {
    const std::string text = "group 7\ndate 2007-11-22\nlap 1 0:01'02.03\nlap 2 0:00'58.10\n"
                             "average 0:01'00.06\nfastest 0:00'58.10\nslowest 0:01'02.03\nend 0:02'00.13\n";
    const std::vector<std::string> expected{"MCH:       \t007",
                                            "",
                                            "Record Date:\t2007-11-22\tThursday",
                                            "",
                                            "Lap1:\t0:01'02.03\tSplit1:\t0:01'02.03",
                                            "",
                                            "Lap2:\t0:00'58.10\tSplit2:\t0:02'00.13",
                                            "",
                                            "Average Lap Time:   \t0:01'00.06",
                                            "Fastest Lap Time:   \t0:00'58.10",
                                            "Slowest Lap Time:   \t0:01'02.03",
                                            "",
                                            "End Time:       \t0:02'00.13",
                                            hyphens,
                                            ""};
    const std::string block = blockOf(text);
    EXPECT_EQ(linesOf(block), expected);
    EXPECT_TRUE(block.ends_with(hyphens + "\r\r"));

    const std::string bare = blockOf("group 7\ndate 2007-11-22\nlap 1 0:01'02.03\nlap 2 0:00'58.10\n");
    const auto lines = linesOf(bare);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[9], "End Time:       \t ");
}

struct ReportRow {
    const char* name;
    const char* session;                  // the last group's block is checked
    std::vector<std::string> lines;       // each must be a line of the block
    std::vector<std::string> absent = {}; // substrings that must not occur
};

class SimExpectedRules : public ::testing::TestWithParam<ReportRow> {};

TEST_P(SimExpectedRules, BlockHasTheLines) {
    const ReportRow& row = GetParam();
    const auto session = sim::ParseSession(row.session, row.name);
    const std::string block = blockOf(row.session, session.groups.size() - 1);
    const auto lines = linesOf(block);
    for (const std::string& line : row.lines)
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << "missing line: " << line;
    for (const std::string& text : row.absent)
        EXPECT_EQ(block.find(text), std::string::npos) << "unexpected: " << text;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SimExpectedRules,
    ::testing::Values(
        ReportRow{"NoLapsNoStatistics", "group 1\nend 0:01'00.00\n", {"End Time:       \t0:01'00.00"}, {"Lap"}},
        ReportRow{"NoLapsNoEndTime", "group 1\n", {"End Time:       \t"}, {"Lap", "Average"}},
        ReportRow{"SplitRecordsOnly", "group 1\nsplit 1 0:01'00.00\nsplit 2 0:02'00.00\n", {}, {"Lap", "Split"}},
        ReportRow{"TwoDigitLapNumbers",
                  "group 1\nlap 1 0:01'00.00\nlap 2 0:01'00.00\nlap 3 0:01'00.00\nlap 4 0:01'00.00\nlap 5 "
                  "0:01'00.00\nlap 6 0:01'00.00\nlap 7 0:01'00.00\nlap 8 0:01'00.00\nlap 9 0:01'00.00\nlap 10 "
                  "0:01'00.00\n",
                  {"Lap10:\t0:01'00.00\tSplit10:\t0:10'00.00"}},
        ReportRow{"SkippedLapIsMissing",
                  "group 1\nlap 1 0:01'00.00\nlap 3 0:01'00.00\n",
                  {"Lap2:\txxxxxxx\tSplit2:\txxxxxxx", "Lap3:\t0:01'00.00\tSplit3:\txxxxxxx", "End Time:       \t "}},
        ReportRow{"LapThreeThenOneAndTwo",
                  "group 1\nlap 3 0:01'00.00\nlap 1 0:01'02.03\nlap 2 0:00'58.10\n",
                  {"Lap1:\t0:01'02.03\tSplit1:\t0:01'02.03", "Lap2:\t0:00'58.10\tSplit2:\t0:02'00.13",
                   "Lap3:\t0:01'00.00\tSplit3:\txxxxxxx"}},
        ReportRow{"SplitRecordOverridesAndFeedsTheNextLap",
                  "group 1\nlap 1 0:01'00.00\nsplit 1 0:05'00.00\nlap 2 0:01'00.00\n",
                  {"Lap1:\t0:01'00.00\tSplit1:\t0:05'00.00", "Lap2:\t0:01'00.00\tSplit2:\t0:06'00.00"}},
        ReportRow{"CarryAndHourWrap",
                  "group 1\nlap 1 0:59'59.99\nlap 2 0:00'00.01\nlap 3 9:00'00.00\n",
                  {"Lap2:\t0:00'00.01\tSplit2:\t1:00'00.00", "Lap3:\t9:00'00.00\tSplit3:\t0:00'00.00"}},
        ReportRow{"LapZeroStoresNothing", "group 1\nlap 0 0:01'00.00\n", {}, {"Lap0", "Lap1"}},
        ReportRow{"RepeatedLapLastWins",
                  "group 1\nlap 1 0:01'00.00\nlap 1 0:02'00.00\n",
                  {"Lap1:\t0:02'00.00\tSplit1:\t0:02'00.00"}},
        ReportRow{"AbsentLapMakesItsSplitAbsent",
                  "group 1\nlap 1 0:01'00.00\nlap 2 absent\nlap 3 0:01'00.00\nend 0:03'00.00\n",
                  {"Lap2:\t-:--'--.--\tSplit2:\t-:--'--.--", "Lap3:\t0:01'00.00\tSplit3:\t-:--'--.--",
                   "End Time:       \t0:03'00.00"}},
        ReportRow{
            "EndTimeEarlierThanLastSplit", "group 1\nlap 1 0:01'00.00\nend 0:00'59.99\n", {"End Time:       \t "}},
        ReportRow{
            "EndTimeEqualToLastSplit", "group 1\nlap 1 0:01'00.00\nend 0:01'00.00\n", {"End Time:       \t0:01'00.00"}},
        ReportRow{"AbsentEndTimeSortsFirst", "group 1\nlap 1 0:01'00.00\nend absent\n", {"End Time:       \t "}},
        ReportRow{"AbsentLastSplitSortsBelowATime",
                  "group 1\nlap 1 absent\nend 0:00'00.01\n",
                  {"End Time:       \t0:00'00.01"}},
        ReportRow{"MissingLastSplitSortsLast", "group 1\nlap 2 0:01'00.00\nend 9:59'59.99\n", {"End Time:       \t "}},
        ReportRow{"OnlyFastestGivesAllThreeLines",
                  "group 1\nfastest 0:00'58.10\n",
                  {"Average Lap Time:   \t", "Fastest Lap Time:   \t0:00'58.10", "Slowest Lap Time:   \t"}},
        ReportRow{"WeekdayCodeWithoutName", "group 1\ndate 2007-11-22 7\n", {"Record Date:\t2007-11-22\t"}},
        ReportRow{"NumberAndDateCarryOver",
                  "group 5\ndate 2024-05-14\ngroup\n",
                  {"MCH:       \t005", "Record Date:\t2024-05-14\tTuesday"}},
        ReportRow{"FirstGroupWithoutNumberOrDate", "group\n", {"MCH:       \t", "Record Date:\t"}},
        ReportRow{"LastNumberRecordWins", "group 5\nnumber 12\n", {"MCH:       \t012"}},
        ReportRow{"UnknownRecordsChangeNothing",
                  "group 3\nrecord 5A 12 01 02 03 04\nlap 1 0:01'00.00\n",
                  {"MCH:       \t003", "Lap1:\t0:01'00.00\tSplit1:\t0:01'00.00"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimExpected, SavedTextHasCrLfLineEndsOnly) {
    const std::string saved = sim::ExpectedSavedText(sim::DemoSession());
    for (std::size_t i = 0; i < saved.size(); ++i) {
        if (saved[i] == '\r') {
            ASSERT_EQ(saved.at(i + 1), '\n') << "at " << i;
        } else if (saved[i] == '\n') {
            ASSERT_EQ(saved.at(i - 1), '\r') << "at " << i;
        }
    }
    EXPECT_TRUE(saved.ends_with(hyphens + "\r\n\r\n"));
}

// Feeds bytes to the program in chunks of 1..maxChunk, one poll per chunk, and collects replies.
std::vector<std::uint8_t> feedChunked(simtest::ProgramPeer& peer, const Bytes& bytes, sim::Random& rng,
                                      std::size_t maxChunk) {
    std::vector<std::uint8_t> replies;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + rng.Below(maxChunk));
        const auto r = peer.Poll(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(at + n)));
        replies.insert(replies.end(), r.begin(), r.end());
        at += n;
    }
    const auto r = peer.Settle();
    replies.insert(replies.end(), r.begin(), r.end());
    return replies;
}

void crossCheck(const sim::SimSession& session, std::uint64_t seed) {
    sim::Random rng(seed);
    simtest::ProgramPeer peer;
    sim::ExpectedReport expected;
    for (std::size_t g = 0; g < session.groups.size(); ++g) {
        sim::SendOptions send;
        send.headerNonce = static_cast<std::uint16_t>(rng.Next());
        const std::size_t shownBefore = peer.shown.size();
        const auto replies = feedChunked(peer, sim::EncodeGroup(session.groups[g], send), rng, 1 + rng.Below(200));
        ASSERT_EQ(replies, std::vector<std::uint8_t>{0xFA}) << "seed " << seed << " group " << g + 1;
        std::string block = expected.Block(session.groups[g]);
        std::string shownBlock = peer.shown.substr(shownBefore);
        std::erase(shownBlock, '\n');
        sim::SimSession one;
        one.groups.push_back(session.groups[g]);
        ASSERT_EQ(shownBlock, block) << "seed " << seed << " group " << g + 1 << "\n" << sim::FormatSession(one);
    }
    EXPECT_EQ(peer.shown, sim::ExpectedSavedText(session));
}

TEST(SimCrossCheck, DemoDecodesToTheExpectedText) {
    crossCheck(sim::DemoSession(), 1);
}

TEST(SimCrossCheck, GeneratedSessionsDecodeToTheExpectedText) {
    for (std::uint64_t seed = 1; seed <= 60; ++seed)
        crossCheck(sim::GenerateSession(seed, 50), seed);
}

TEST(SimCrossCheck, SpoiledSendingsAreRefusedOrIgnoredAndTheResendShownOnce) {
    const auto session = sim::GenerateSession(7, 20);
    sim::Random rng(7);
    simtest::ProgramPeer peer;
    const std::vector<std::uint8_t> none;
    for (const sim::SimGroup& group : session.groups) {
        const std::size_t shown = peer.groupsShown;
        sim::SendOptions unit;
        unit.badUnitBefore = rng.Below(group.records.size() + 1);
        EXPECT_EQ(feedChunked(peer, sim::EncodeGroup(group, unit), rng, 64), none);

        sim::SendOptions bad;
        bad.headerNonce = 1;
        bad.checkCorruption = {0x00, 0x00, 0x10, 0x00};
        const auto refused = feedChunked(peer, sim::EncodeGroup(group, bad), rng, 64);
        ASSERT_FALSE(refused.empty());
        EXPECT_EQ(std::count(refused.begin(), refused.end(), 0xF0), std::ptrdiff_t(refused.size()));
        EXPECT_EQ(peer.groupsShown, shown);

        // Until the replacement is complete, the program may still refuse the group it replaces.
        sim::SendOptions good;
        good.headerNonce = 2;
        auto replies = feedChunked(peer, sim::EncodeGroup(group, good), rng, 64);
        ASSERT_FALSE(replies.empty());
        EXPECT_EQ(replies.back(), 0xFA);
        replies.pop_back();
        EXPECT_EQ(std::count(replies.begin(), replies.end(), 0xF0), std::ptrdiff_t(replies.size()));
        EXPECT_EQ(peer.groupsShown, shown + 1);
    }
    EXPECT_EQ(peer.shown, sim::ExpectedSavedText(session));
}

TEST(SimGenerator, SameSeedSameSessionAndEveryGroupPlayable) {
    EXPECT_EQ(sim::GenerateSession(42, 100), sim::GenerateSession(42, 100));
    EXPECT_NE(sim::GenerateSession(42, 100), sim::GenerateSession(43, 100));
    for (std::uint64_t seed = 1; seed <= 20; ++seed)
        EXPECT_NO_THROW(sim::CheckPlayable(sim::GenerateSession(seed, 200), "seed " + std::to_string(seed)));
}

TEST(SimGenerator, LongSessionCarriesTheEdgeMaterial) {
    const auto session = sim::GenerateSession(3, 2000);
    struct Seen {
        bool lapTen = false, lapHundred = false, absent = false, lapZero = false, split = false, unknown = false,
             noNumber = false, noDate = false, namelessWeekday = false, empty = false, spare = false,
             statsSubset = false, overNineHours = false;
    } seen;
    for (const sim::SimGroup& group : session.groups) {
        bool number = false, date = false;
        int stats = 0;
        std::uint64_t total = 0;
        seen.empty |= group.records.empty();
        for (const sim::SimRecord& r : group.records) {
            number |= r.kind == sim::RecordKind::groupNumber;
            date |= r.kind == sim::RecordKind::date;
            seen.namelessWeekday |= r.kind == sim::RecordKind::date && r.date.weekday > 6;
            seen.lapTen |= r.kind == sim::RecordKind::lap && r.index >= 10;
            seen.lapHundred |= r.kind == sim::RecordKind::lap && r.index >= 100;
            seen.lapZero |= r.kind == sim::RecordKind::lap && r.index == 0;
            seen.absent |= r.time.absent;
            seen.split |= r.kind == sim::RecordKind::split;
            seen.unknown |= r.kind == sim::RecordKind::unknown;
            seen.spare |= r.spare != 0;
            stats += r.kind == sim::RecordKind::averageLap || r.kind == sim::RecordKind::fastestLap ||
                     r.kind == sim::RecordKind::slowestLap;
            if (r.kind == sim::RecordKind::lap)
                total += r.time.hundredths;
        }
        seen.noNumber |= !number && !group.records.empty();
        seen.noDate |= !date && !group.records.empty();
        seen.statsSubset |= stats == 1 || stats == 2;
        seen.overNineHours |= total >= sim::timeModulus;
    }
    EXPECT_TRUE(seen.lapTen && seen.lapHundred && seen.absent && seen.lapZero && seen.split && seen.unknown &&
                seen.noNumber && seen.noDate && seen.namelessWeekday && seen.empty && seen.spare && seen.statsSubset &&
                seen.overNineHours)
        << seen.lapTen << seen.lapHundred << seen.absent << seen.lapZero << seen.split << seen.unknown << seen.noNumber
        << seen.noDate << seen.namelessWeekday << seen.empty << seen.spare << seen.statsSubset << seen.overNineHours;
}

} // namespace
