// SPDX-License-Identifier: MIT
// The protocol loop against the project's decoder in-process: every fault must show the
// effect it promises, and the program must still end up showing each group exactly once.
#include "Player.h"
#include "ProgramPeer.h"
#include "Session.h"
#include "SessionGen.h"

#include <gtest/gtest.h>

#include <deque>
#include <regex>
#include <sstream>

namespace {

using sim::Bytes;

// The program at the far end of a line that delivers each write in one piece: one poll per
// write, and one more poll whenever the timer waits for its reply.
class PeerLine : public sim::TimerLine {
public:
    enum class Behaviour { normal, mute, alwaysNak, doubleReply };
    explicit PeerLine(Behaviour behaviour = Behaviour::normal) : behaviour(behaviour) {}

    bool Write(const Bytes& bytes) override {
        wire.insert(wire.end(), bytes.begin(), bytes.end());
        Answer(peer.Poll(bytes));
        return true;
    }
    std::optional<std::uint8_t> ReadByte(sim::Clock::time_point until) override {
        if (replies.empty() && until > sim::Clock::now())
            Answer(peer.Poll({}));
        if (replies.empty())
            return std::nullopt;
        const std::uint8_t byte = replies.front();
        replies.pop_front();
        return byte;
    }
    bool Pause(sim::Clock::duration) override { return true; }
    void Unplug() override {
        ++unplugs;
        replies.clear();
    }
    std::string Replug() override { return "/dev/pts/test"; }
    bool StopRequested() const override { return false; }
    std::string Name() const override { return "COM3"; }

    // Header units found on the wire, in order.
    std::vector<Bytes> Headers() const {
        std::vector<Bytes> headers;
        for (std::size_t p = 0; p + 8 <= wire.size(); ++p)
            if (wire[p] == 0xAB && wire[p + 1] == 0xC0 && wire[p + 2] < 0x10 && (wire[p + 4] & 0x0F) == 0x0A &&
                wire[p + 5] == 0xAA && wire[p + 6] == 0xAA && wire[p + 7] == 0xAA)
                headers.emplace_back(wire.begin() + static_cast<std::ptrdiff_t>(p),
                                     wire.begin() + static_cast<std::ptrdiff_t>(p + 8));
        return headers;
    }

    simtest::ProgramPeer peer;
    Bytes wire;
    std::size_t unplugs = 0;

private:
    void Answer(const std::vector<std::uint8_t>& answer) {
        for (std::uint8_t byte : answer) {
            if (behaviour == Behaviour::mute)
                continue;
            if (behaviour == Behaviour::alwaysNak)
                byte = 0xF0;
            replies.push_back(byte);
            if (behaviour == Behaviour::doubleReply)
                replies.push_back(byte);
        }
    }

    Behaviour behaviour;
    std::deque<std::uint8_t> replies;
};

std::size_t countLines(const std::string& log, const std::string& pattern) {
    const std::regex re(pattern);
    std::size_t n = 0;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        n += std::regex_match(line, re);
    return n;
}

sim::PlayOptions quick() {
    sim::PlayOptions options;
    options.gap = sim::Milliseconds(0);
    options.replyTimeout = sim::Milliseconds(1);
    return options;
}

TEST(SimPlayer, DemoIsAcknowledgedGroupByGroupAndShownOnce) {
    PeerLine line;
    std::ostringstream out;
    sim::Log log(out);
    const auto session = sim::DemoSession();
    const auto summary = sim::Play(session, quick(), line, log);

    EXPECT_TRUE(summary.AllAcknowledged());
    EXPECT_EQ(summary.sendings, session.groups.size());
    EXPECT_EQ(line.peer.shown, sim::ExpectedSavedText(session));
    const std::string text = out.str();
    EXPECT_EQ(countLines(text, R"(send group \d number 00\d attempt 1 bytes \d+)"), 6u) << text;
    EXPECT_EQ(countLines(text, R"(reply 0xFA group \d attempt 1 us \d+)"), 6u) << text;
    EXPECT_EQ(countLines(text, "done groups 6 acknowledged 6 given-up 0 sendings 6 naks 0 other 0 timeouts 0 "
                               "late 0 unplugs 0 stray 0 interrupted 0"),
              1u)
        << text;
}

struct FaultRow {
    const char* name;
    std::size_t groups;
    void (*plan)(sim::FaultPlan&);
    std::size_t sendings, naks, timeouts, unplugs, lateAtLeast;
    std::vector<std::pair<std::string, std::size_t>> lines; // regex, how many lines match
};

class SimPlayerFaults : public ::testing::TestWithParam<FaultRow> {};

TEST_P(SimPlayerFaults, EveryGroupShownOnceAndTheFaultSeen) {
    const FaultRow& row = GetParam();
    const auto session = sim::GenerateSession(5, row.groups);
    sim::PlayOptions options = quick();
    row.plan(options.faults);
    PeerLine line;
    std::ostringstream out;
    sim::Log log(out);
    const auto summary = sim::Play(session, options, line, log);

    EXPECT_TRUE(summary.AllAcknowledged());
    EXPECT_EQ(line.peer.shown, sim::ExpectedSavedText(session));
    EXPECT_EQ(summary.sendings, row.sendings);
    EXPECT_EQ(summary.naks, row.naks);
    EXPECT_EQ(summary.timeouts, row.timeouts);
    EXPECT_EQ(summary.unplugs, row.unplugs);
    EXPECT_EQ(line.unplugs, row.unplugs);
    // The program answers a refused group once, so a resend, fragmented or not, meets no stale
    // reply; one would be logged as late and never taken for the resend's reply. A late 0xFA
    // would mean a group shown twice.
    if (row.lateAtLeast == 0) {
        EXPECT_EQ(summary.late, 0u);
    }
    EXPECT_GE(summary.late, row.lateAtLeast);
    EXPECT_EQ(countLines(out.str(), "late 0x(?!F0).*"), 0u);
    for (const auto& [pattern, count] : row.lines)
        EXPECT_EQ(countLines(out.str(), pattern), count) << pattern << "\n" << out.str();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimPlayerFaults,
    ::testing::Values(
        FaultRow{"BadCheckOnce",
                 40,
                 [](sim::FaultPlan& f) { f.badCheck.groups = {3}; },
                 41,
                 1,
                 0,
                 0,
                 0,
                 {{R"(send group 3 number \d+ attempt 1 bytes \d+ fault bad-check)", 1},
                  {R"(reply 0xF0 group 3 attempt 1 us \d+)", 1},
                  {R"(late 0xF0 group 3 attempt 1)", 0},
                  {R"(reply 0xFA group 3 attempt 2 us \d+)", 1}}},
        FaultRow{"BadCheckThenFragmentedResend",
                 40,
                 [](sim::FaultPlan& f) { f.badCheck.groups = f.fragment.groups = {3}; },
                 41,
                 1,
                 0,
                 0,
                 0,
                 {{R"(reply 0xFA group 3 attempt 2 us \d+)", 1}}},
        FaultRow{"BadCheckEveryTenth", 40, [](sim::FaultPlan& f) { f.badCheck.every = 10; }, 44, 4, 0, 0, 0, {}},
        FaultRow{"BadUnitEveryFourth",
                 40,
                 [](sim::FaultPlan& f) { f.badUnit.every = 4; },
                 50,
                 0,
                 10,
                 0,
                 0,
                 {{R"(send group \d+ number \d+ attempt 1 bytes \d+ fault bad-unit)", 10},
                  {R"(timeout group \d+ attempt 1)", 10}}},
        FaultRow{"UnplugTwice",
                 40,
                 [](sim::FaultPlan& f) {
                     f.unplug.groups = {2, 7};
                 },
                 42,
                 0,
                 0,
                 2,
                 0,
                 {{R"(unplug port COM3 group (2|7) attempt 1 after \d+)", 2},
                  {R"(replug port COM3 device /dev/pts/test)", 2},
                  {R"(reply 0xFA group (2|7) attempt 2 us \d+)", 2}}},
        FaultRow{"ThreeFaultsOnOneGroup",
                 10,
                 [](sim::FaultPlan& f) { f.unplug.groups = f.badUnit.groups = f.badCheck.groups = {5}; },
                 13,
                 1,
                 1,
                 1,
                 0,
                 {{R"(send group 5 number \d+ attempt 1 .* fault unplug)", 1},
                  {R"(send group 5 number \d+ attempt 2 .* fault bad-unit)", 1},
                  {R"(send group 5 number \d+ attempt 3 .* fault bad-check)", 1},
                  {R"(reply 0xFA group 5 attempt 4 us \d+)", 1}}},
        FaultRow{"GarbageBeforeEveryGroup",
                 40,
                 [](sim::FaultPlan& f) { f.garbage.all = true; },
                 40,
                 0,
                 0,
                 0,
                 0,
                 {{R"(garbage group \d+ bytes \d+)", 40}}},
        FaultRow{"FragmentedSendings",
                 40,
                 [](sim::FaultPlan& f) {
                     f.fragment.all = true;
                     f.fragmentMaxBytes = 3;
                 },
                 40,
                 0,
                 0,
                 0,
                 0,
                 {{R"(fragment group \d+ attempt 1 pieces \d+)", 40}}},
        FaultRow{"AllFaultsLikeTheSoak",
                 300,
                 [](sim::FaultPlan& f) {
                     f.garbage.every = 2;
                     f.fragment.every = 3;
                     f.badCheck.every = 5;
                     f.badUnit.every = 7;
                     f.unplug.every = 11;
                 },
                 300 + 60 + 42 + 27,
                 60,
                 42,
                 27,
                 0,
                 {{R"(give-up .*)", 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimPlayer, EverySendingHasItsOwnHeaderUnit) {
    const auto session = sim::GenerateSession(11, 30);
    sim::PlayOptions options = quick();
    options.faults.badCheck.all = true;
    PeerLine line;
    std::ostringstream out;
    sim::Log log(out);
    sim::Play(session, options, line, log);
    const auto headers = line.Headers();
    ASSERT_EQ(headers.size(), 60u);
    for (std::size_t i = 1; i < headers.size(); ++i)
        EXPECT_NE(headers[i], headers[i - 1]) << "sending " << i + 1;
}

struct GiveUpRow {
    const char* name;
    PeerLine::Behaviour behaviour;
    unsigned retries;
    std::size_t naks, timeouts;
};

class SimPlayerGiveUp : public ::testing::TestWithParam<GiveUpRow> {};

TEST_P(SimPlayerGiveUp, GroupIsGivenUpAfterTheRetriesAndTheNextOneFollows) {
    const GiveUpRow& row = GetParam();
    sim::PlayOptions options = quick();
    options.retries = row.retries;
    PeerLine line(row.behaviour);
    std::ostringstream out;
    sim::Log log(out);
    const auto summary = sim::Play(sim::DemoSession(), options, line, log);

    EXPECT_FALSE(summary.AllAcknowledged());
    EXPECT_EQ(summary.givenUp, 6u);
    EXPECT_EQ(summary.sendings, 6u * (row.retries + 1));
    EXPECT_EQ(summary.naks, row.naks);
    EXPECT_EQ(summary.timeouts, row.timeouts);
    EXPECT_EQ(countLines(out.str(), "give-up group [1-6] attempts " + std::to_string(row.retries + 1)), 6u);
}

INSTANTIATE_TEST_SUITE_P(Replies, SimPlayerGiveUp,
                         ::testing::Values(GiveUpRow{"NoReplyEver", PeerLine::Behaviour::mute, 2, 0, 18},
                                           GiveUpRow{"AlwaysRefused", PeerLine::Behaviour::alwaysNak, 0, 6, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimPlayer, SecondReplyIsLoggedLate) {
    PeerLine line(PeerLine::Behaviour::doubleReply);
    std::ostringstream out;
    sim::Log log(out);
    const auto summary = sim::Play(sim::DemoSession(), quick(), line, log);
    EXPECT_TRUE(summary.AllAcknowledged());
    EXPECT_EQ(summary.late, 6u);
    EXPECT_EQ(countLines(out.str(), R"(late 0xFA group [1-6] attempt 1)"), 6u) << out.str();
}

TEST(SimPlayer, GarbageNeverHoldsAHeaderUnitNotEvenWithTheOneAfterIt) {
    const Bytes header = sim::EncodeHeader(0x0000);
    std::size_t nearMisses = 0;
    for (std::uint64_t seed = 0; seed < 5000; ++seed) {
        Bytes stream = sim::MakeGarbage(seed, 64);
        const std::size_t garbageSize = stream.size();
        ASSERT_GE(garbageSize, 1u);
        ASSERT_LE(garbageSize, 64u);
        for (std::size_t i = 0; i + 1 < garbageSize; ++i)
            nearMisses += stream[i] == 0xAB && stream[i + 1] == 0xC0;
        stream.insert(stream.end(), header.begin(), header.end());
        stream.insert(stream.begin(), 0x00); // the search below starts at 1
        EXPECT_EQ(sim::FindStrayHeader(stream), garbageSize + 1) << "seed " << seed;
    }
    EXPECT_GT(nearMisses, 100u);
}

TEST(SimPlayer, GroupSelectorHits) {
    sim::GroupSelector s;
    EXPECT_FALSE(s.Any());
    s.groups = {2, 9};
    s.every = 4;
    std::vector<std::size_t> hits;
    for (std::size_t g = 1; g <= 12; ++g)
        if (s.Hits(g))
            hits.push_back(g);
    EXPECT_EQ(hits, (std::vector<std::size_t>{2, 4, 8, 9, 12}));
}

} // namespace
