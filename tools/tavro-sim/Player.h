// SPDX-License-Identifier: MIT
#pragma once

// Plays a session over one line the way the timer does: header unit, records, end record,
// then one reply byte; 0xFA moves on, 0xF0, any other byte or a time-out sends the group again
// with a new header unit, up to a retry limit. Faults are injected on request.

#include "Session.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// The timer's end of the line. Implementations: a pseudo-terminal port or a device (Ports.h),
// or an in-process peer in tests.
class TimerLine {
public:
    virtual ~TimerLine() = default;
    // Sends all bytes; false when a stop was requested before they were out.
    virtual bool Write(const Bytes& bytes) = 0;
    // The next byte the program sent, or nothing once `until` has passed or a stop was
    // requested. With `until` in the past it only takes a byte that is already there.
    virtual std::optional<std::uint8_t> ReadByte(Clock::time_point until) = 0;
    // Waits without reading the timer's line (bytes from the program stay queued); false when
    // a stop was requested.
    virtual bool Pause(Clock::duration duration) = 0;
    // The cable is pulled: the program's side of the line fails and unread bytes are lost.
    virtual void Unplug() = 0;
    // A new line under the same name; returns what to log about it (the device path).
    virtual std::string Replug() = 0;
    virtual bool StopRequested() const = 0;
    // The name the program knows the line by ("COM3", or a device path).
    virtual std::string Name() const = 0;
    // Bytes the program wrote to ports that do not play the session.
    virtual std::size_t StrayBytes() const { return 0; }
};

// Which groups (1-based positions in the session) a fault hits.
struct GroupSelector {
    std::vector<std::size_t> groups;
    std::size_t every = 0; // every Nth group: N, 2N, 3N, ...
    bool all = false;

    static GroupSelector Every(std::size_t n) {
        GroupSelector s;
        s.every = n;
        return s;
    }
    bool Hits(std::size_t group) const;
    bool Any() const { return all || every > 0 || !groups.empty(); }
};

struct FaultPlan {
    GroupSelector garbage;  // random bytes, never a header unit, before the group's first sending
    GroupSelector badCheck; // one sending with a wrong check value (the program answers 0xF0)
    GroupSelector badUnit;  // one sending with a unit whose byte 0 is not 0xAB (no reply, time-out)
    GroupSelector fragment; // every sending of the group in small pieces with pauses between them
    GroupSelector unplug;   // one sending cut off by the line vanishing, then a new line
    std::size_t garbageMaxBytes = 48;
    std::size_t fragmentMaxBytes = 6;
    Milliseconds fragmentDelay{20};
    Milliseconds replugDelay{500};
};

struct PlayOptions {
    Milliseconds replyTimeout{3000};
    unsigned retries = 5; // sendings after the first
    Milliseconds startDelay{0};
    Milliseconds gap{200};     // after an acknowledged group, before the next one
    Milliseconds gapJitter{0}; // plus a random 0..gapJitter, to spread groups over the program's poll
    Milliseconds linger{0};    // after the last group, keep logging bytes the program sends
    bool keepOpen = false;     // after the summary, keep the line (and log its bytes) until a stop
    std::uint64_t seed = 1;    // header units and fault details
    FaultPlan faults;
};

struct PlaySummary {
    std::size_t groups = 0;
    std::size_t acknowledged = 0;
    std::size_t givenUp = 0;
    std::size_t sendings = 0;
    std::size_t naks = 0;
    std::size_t otherReplies = 0;
    std::size_t timeouts = 0;
    std::size_t late = 0;
    std::size_t unplugs = 0;
    std::size_t stray = 0;
    bool interrupted = false;

    bool AllAcknowledged() const { return !interrupted && acknowledged == groups; }
};

// Line-oriented log: one event per line, flushed at once so a test reading a pipe sees it.
class Log {
public:
    explicit Log(std::ostream& out) : out(out) {}
    void Line(const std::string& text);

private:
    std::ostream& out;
};

// "0xFA"
std::string HexByte(std::uint8_t byte);

// Garbage for between groups: random bytes in which no header unit can start, not even
// together with the header unit that follows. Sometimes holds a near miss (AB C0 and a third
// byte that breaks the pattern, or AB C0 0x at its very end).
Bytes MakeGarbage(std::uint64_t seed, std::size_t maxBytes);

// Plays the whole session and logs the summary line; with keepOpen, then waits for a stop.
PlaySummary Play(const SimSession& session, const PlayOptions& options, TimerLine& line, Log& log);

// "done groups 6 acknowledged 6 ...".
std::string SummaryLine(const PlaySummary& summary);

} // namespace sim
