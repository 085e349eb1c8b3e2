// SPDX-License-Identifier: MIT
#include "SessionFile.h"
#include "SessionGen.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SimSessionFile, ParsesEveryKindOfLine) {
    const auto session = sim::ParseSession("# a training\n"
                                           "group 7   # number record first\n"
                                           "date 2007-11-22\n"
                                           "LAP 1 0:01'02.03\n"
                                           "split 1 absent\n"
                                           "lap 2 -:--'--.--\n"
                                           "average 0:01'00.06\n"
                                           "fastest 0:00'58.10\n"
                                           "slowest 0:01'02.03\n"
                                           "end 9:59'59.99\n"
                                           "record 5a 123 00 ff 10 01\n"
                                           "number 8\n"
                                           "\n"
                                           "group\n"
                                           "date 2099-99-00 sat\n",
                                           "good");
    ASSERT_EQ(session.groups.size(), 2u);
    const auto& r = session.groups[0].records;
    ASSERT_EQ(r.size(), 11u);
    EXPECT_EQ(r[0], sim::SimRecord::Number(7));
    EXPECT_EQ(r[1], sim::SimRecord::Date({7, 11, 22, 4}));
    EXPECT_EQ(r[2], sim::SimRecord::Time(sim::RecordKind::lap, sim::SimTime::Of(0, 1, 2, 3), 1));
    EXPECT_EQ(r[3], sim::SimRecord::Time(sim::RecordKind::split, sim::SimTime::Absent(), 1));
    EXPECT_TRUE(r[4].time.absent);
    EXPECT_EQ(r[8], sim::SimRecord::Time(sim::RecordKind::endTime, sim::SimTime::Of(9, 59, 59, 99)));
    EXPECT_EQ(r[9], sim::SimRecord::Unknown(0x5A, 123, {0x00, 0xFF, 0x10, 0x01}));
    EXPECT_EQ(sim::GroupNumberOf(session.groups[0]), 8u);
    EXPECT_EQ(session.groups[1].records.at(0), sim::SimRecord::Date({99, 99, 0, 6}));
    EXPECT_FALSE(sim::GroupNumberOf(session.groups[1]));
}

struct BadFile {
    const char* name;
    const char* text;
    const char* message; // expected part of what()
};

class SimSessionFileErrors : public ::testing::TestWithParam<BadFile> {};

TEST_P(SimSessionFileErrors, NamesTheLineAndTheFault) {
    try {
        sim::ParseSession(GetParam().text, "s.txt");
        FAIL() << "accepted";
    } catch (const sim::SessionError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimSessionFileErrors,
    ::testing::Values(BadFile{"Empty", "# nothing\n", "s.txt: no groups"},
                      BadFile{"RecordBeforeGroup", "lap 1 0:01'00.00\ngroup\n", "s.txt:1: 'lap' before the first"},
                      BadFile{"UnknownKeyword", "group\nlapp 1 0:01'00.00\n", "s.txt:2: unknown keyword 'lapp'"},
                      BadFile{"NumberTooLarge", "group 1000\n", "s.txt:1: group number '1000'"},
                      BadFile{"NegativeLap", "group\nlap -1 0:01'00.00\n", "s.txt:2: number '-1'"},
                      BadFile{"MissingTime", "group\nlap 1\n", "s.txt:2: expected 'lap N TIME'"},
                      BadFile{"ExtraValue", "group\nend 0:01'00.00 0:02'00.00\n", "expected 'end TIME'"},
                      BadFile{"TimeWithoutHour", "group\nend 01'00.00\n", "is not H:MM'SS.cc"},
                      BadFile{"SecondsAbove59", "group\nend 0:01'60.00\n", "above 59"},
                      BadFile{"LetterInTime", "group\nend 0:0a'00.00\n", "minutes must be 2 digits"},
                      BadFile{"DateOutsideCentury", "group\ndate 1999-01-01\n", "year 2000..2099"},
                      BadFile{"DateThatDoesNotExist", "group\ndate 2023-02-29\n", "give the weekday"},
                      BadFile{"BadWeekday", "group\ndate 2023-02-28 Funday\n", "weekday 'Funday'"},
                      BadFile{"WeekdayCodeTooLarge", "group\ndate 2023-02-28 16\n", "weekday code '16'"},
                      BadFile{"KnownTypeAsRecord", "group\nrecord 22 1 00 00 00 00\n",
                              "type 22 is one the program knows"},
                      BadFile{"PayloadNotHex", "group\nrecord 5A 1 00 0G 00 00\n", "payload byte '0G'"},
                      BadFile{"PayloadTooLarge", "group\nrecord 5A 1 00 100 00 00\n", "hex 00 to FF"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimSessionFile, FormatThenParseGivesTheSameSession) {
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
        sim::SimSession session = sim::GenerateSession(seed, 200);
        // The format carries what the program shows, not the bits it must ignore.
        for (sim::SimGroup& group : session.groups) {
            for (sim::SimRecord& r : group.records) {
                r.spare = 0;
                if (r.kind == sim::RecordKind::groupNumber)
                    r.payload = {};
            }
        }
        EXPECT_EQ(sim::ParseSession(sim::FormatSession(session), "formatted"), session) << "seed " << seed;
    }
    EXPECT_EQ(sim::ParseSession(sim::FormatSession(sim::DemoSession()), "demo again"), sim::DemoSession());
}

TEST(SimSessionFile, MissingFileIsASessionError) {
    EXPECT_THROW(sim::LoadSessionFile("/nonexistent/session.txt"), sim::SessionError);
}

} // namespace
