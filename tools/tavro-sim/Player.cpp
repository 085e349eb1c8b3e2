// SPDX-License-Identifier: MIT
#include "Player.h"

#include "Random.h"

#include <algorithm>
#include <deque>

namespace sim {

namespace {

constexpr std::uint8_t replyAcknowledged = 0xFA;
constexpr std::uint8_t replyCheckFailed = 0xF0;
constexpr std::uint8_t recordMark = 0xAB;
constexpr std::uint8_t headerSecondByte = 0xC0;

enum class Fault { none, unplug, badUnit, badCheck };

const char* faultName(Fault fault) {
    switch (fault) {
    case Fault::unplug:
        return "unplug";
    case Fault::badUnit:
        return "bad-unit";
    case Fault::badCheck:
        return "bad-check";
    case Fault::none:
        break;
    }
    return "none";
}

std::string numberText(const SimGroup& group) {
    const auto number = GroupNumberOf(group);
    if (!number)
        return "-";
    std::string text = std::to_string(*number);
    return std::string(3 - std::min<std::size_t>(3, text.size()), '0') + text;
}

class SessionPlayer {
public:
    SessionPlayer(const SimSession& session, const PlayOptions& options, TimerLine& line, Log& log)
        : session(session), options(options), faults(options.faults), line(line), log(log),
          rng(options.seed ^ 0x7A5E'5EED'0000'0000ULL) {}

    PlaySummary Run() {
        summary.groups = session.groups.size();
        if (options.startDelay.count() > 0 && !line.Pause(options.startDelay))
            return Interrupted();
        for (std::size_t g = 1; g <= session.groups.size(); ++g) {
            if (g > 1 && !Gap())
                return Interrupted();
            if (!PlayGroup(g))
                return Interrupted();
        }
        if (options.linger.count() > 0)
            DrainLate(Clock::now() + options.linger);
        DrainLate(Clock::now());
        summary.stray = line.StrayBytes();
        log.Line(SummaryLine(summary));
        if (options.keepOpen) {
            log.Line("keep-open");
            DrainLate(Clock::time_point::max());
            log.Line("stop requested");
        }
        return summary;
    }

private:
    bool Gap() {
        Milliseconds pause = options.gap;
        if (options.gapJitter.count() > 0)
            pause += Milliseconds(rng.Below(static_cast<std::size_t>(options.gapJitter.count()) + 1));
        return pause.count() == 0 || line.Pause(pause);
    }

    PlaySummary Interrupted() {
        summary.interrupted = true;
        summary.stray = line.StrayBytes();
        log.Line("stop requested");
        log.Line(SummaryLine(summary));
        return summary;
    }

    // Bytes that come while the timer is not waiting for a reply answer nothing it sent last:
    // the real timer listens only after an end record. They are logged with the sending they
    // most likely belong to; a late 0xFA means the program took a group that is sent again.
    void DrainLate(Clock::time_point until) {
        while (const auto byte = line.ReadByte(until)) {
            ++summary.late;
            log.Line("late " + HexByte(*byte) + " group " + std::to_string(lastGroup) + " attempt " +
                     std::to_string(lastAttempt));
        }
    }

    // Writes one sending, in pieces when fragmented. Whatever the program sent before a piece
    // goes out is logged as late, so the reply is the first byte after the last piece. An
    // unfragmented sending is one write, which a pseudo-terminal hands to a reader whole: the
    // program then never sees the new header unit without the end record, and so never
    // answers for the section it replaces while the reply to this sending is awaited.
    bool Send(const Bytes& bytes, bool fragmented, const std::string& label) {
        std::vector<std::size_t> ends;
        if (fragmented) {
            const std::size_t largest = std::max<std::size_t>(1, faults.fragmentMaxBytes);
            for (std::size_t at = 0; at < bytes.size();) {
                at = std::min(bytes.size(), at + 1 + rng.Below(largest));
                ends.push_back(at);
            }
        } else {
            ends.push_back(bytes.size());
        }
        std::size_t from = 0;
        for (const std::size_t end : ends) {
            if (from > 0 && !line.Pause(faults.fragmentDelay))
                return false;
            DrainLate(Clock::now());
            if (!line.Write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(end))))
                return false;
            from = end;
        }
        if (fragmented)
            log.Line("fragment " + label + " pieces " + std::to_string(ends.size()));
        return true;
    }

    // False when a stop was requested.
    bool PlayGroup(std::size_t g) {
        const SimGroup& group = session.groups[g - 1];
        const bool fragmented = faults.fragment.Hits(g);

        if (faults.garbage.Hits(g)) {
            const Bytes garbage = MakeGarbage(rng.Next(), faults.garbageMaxBytes);
            log.Line("garbage group " + std::to_string(g) + " bytes " + std::to_string(garbage.size()));
            if (!line.Write(garbage))
                return false;
        }

        // Each fault that hits the group spoils one sending of its own, so every one of them
        // shows its effect; the sendings after them are clean.
        std::deque<Fault> pending;
        if (faults.unplug.Hits(g))
            pending.push_back(Fault::unplug);
        if (faults.badUnit.Hits(g))
            pending.push_back(Fault::badUnit);
        if (faults.badCheck.Hits(g))
            pending.push_back(Fault::badCheck);

        for (unsigned attempt = 1; attempt <= options.retries + 1; ++attempt) {
            DrainLate(Clock::now());
            const Fault fault = pending.empty() ? Fault::none : pending.front();
            if (!pending.empty())
                pending.pop_front();

            SendOptions send;
            send.headerNonce = static_cast<std::uint16_t>(rng.Next());
            if (fault == Fault::badCheck)
                send.checkCorruption[rng.Below(4)] = static_cast<std::uint8_t>(rng.Byte() | 0x01);
            if (fault == Fault::badUnit) {
                send.badUnitBefore = rng.Below(group.records.size() + 1);
                do
                    send.badUnitFirstByte = rng.Byte();
                while (send.badUnitFirstByte == recordMark);
            }
            const Bytes bytes = EncodeGroup(group, send);
            const std::string label = "group " + std::to_string(g) + " attempt " + std::to_string(attempt);
            ++summary.sendings;
            log.Line("send group " + std::to_string(g) + " number " + numberText(group) + " attempt " +
                     std::to_string(attempt) + " bytes " + std::to_string(bytes.size()) +
                     (fault == Fault::none ? "" : std::string(" fault ") + faultName(fault)));

            if (fault == Fault::unplug) {
                // Cut after the header unit and before the end record's last byte, so the
                // program holds an open group when the line goes.
                const std::size_t cut = unitBytes + rng.Below(bytes.size() - unitBytes);
                if (!Send(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)), fragmented, label))
                    return false;
                log.Line("unplug port " + line.Name() + " " + label + " after " + std::to_string(cut));
                line.Unplug();
                ++summary.unplugs;
                lastGroup = g;
                lastAttempt = attempt;
                if (!line.Pause(faults.replugDelay))
                    return false;
                const std::string device = line.Replug();
                log.Line("replug port " + line.Name() + " device " + device);
                continue;
            }

            if (!Send(bytes, fragmented, label))
                return false;
            const auto sent = Clock::now();
            const auto reply = line.ReadByte(sent + options.replyTimeout);
            lastGroup = g;
            lastAttempt = attempt;
            if (!reply) {
                if (line.StopRequested())
                    return false;
                ++summary.timeouts;
                log.Line("timeout " + label);
                continue;
            }
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count();
            log.Line("reply " + HexByte(*reply) + " " + label + " us " + std::to_string(micros));
            if (*reply == replyAcknowledged) {
                ++summary.acknowledged;
                return true;
            }
            ++(*reply == replyCheckFailed ? summary.naks : summary.otherReplies);
        }
        ++summary.givenUp;
        log.Line("give-up group " + std::to_string(g) + " attempts " + std::to_string(options.retries + 1));
        return !line.StopRequested();
    }

    const SimSession& session;
    const PlayOptions& options;
    const FaultPlan& faults;
    TimerLine& line;
    Log& log;
    Random rng;
    PlaySummary summary;
    std::size_t lastGroup = 0;
    unsigned lastAttempt = 0;
};

} // namespace

bool GroupSelector::Hits(std::size_t group) const {
    return all || (every > 0 && group % every == 0) || std::find(groups.begin(), groups.end(), group) != groups.end();
}

void Log::Line(const std::string& text) {
    out << text << '\n';
    out.flush();
}

std::string HexByte(std::uint8_t byte) {
    static constexpr const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[byte >> 4] + digits[byte & 0x0F];
}

Bytes MakeGarbage(std::uint64_t seed, std::size_t maxBytes) {
    Random rng(seed);
    Bytes garbage(1 + rng.Below(std::max<std::size_t>(1, maxBytes)));
    for (auto& b : garbage)
        b = rng.Byte();
    if (garbage.size() >= 4 && rng.Percent(30)) {
        // A near miss: AB C0 with a third byte that breaks the pattern, or AB C0 0x cut off by
        // the real header unit, which the program's resumable search must give up on.
        const bool atEnd = rng.Percent(50);
        const std::size_t at = atEnd ? garbage.size() - 3 : rng.Below(garbage.size() - 2);
        garbage[at] = recordMark;
        garbage[at + 1] = headerSecondByte;
        garbage[at + 2] = static_cast<std::uint8_t>(atEnd ? rng.Below(16) : 0x10 | rng.Byte());
    }
    // A header unit needs AB C0 and a third byte below 0x10. Within the garbage that third
    // byte is lifted; a match that starts in the last two bytes runs into the real header
    // unit's AB C0, which fails its third or fifth byte.
    for (std::size_t i = 0; i + 3 < garbage.size(); ++i)
        if (garbage[i] == recordMark && garbage[i + 1] == headerSecondByte && garbage[i + 2] < 0x10)
            garbage[i + 2] |= 0x10;
    return garbage;
}

PlaySummary Play(const SimSession& session, const PlayOptions& options, TimerLine& line, Log& log) {
    SessionPlayer player(session, options, line, log);
    return player.Run();
}

std::string SummaryLine(const PlaySummary& s) {
    auto field = [](const char* name, std::size_t value) {
        return std::string(" ") + name + " " + std::to_string(value);
    };
    return "done" + field("groups", s.groups) + field("acknowledged", s.acknowledged) + field("given-up", s.givenUp) +
           field("sendings", s.sendings) + field("naks", s.naks) + field("other", s.otherReplies) +
           field("timeouts", s.timeouts) + field("late", s.late) + field("unplugs", s.unplugs) +
           field("stray", s.stray) + field("interrupted", s.interrupted ? 1 : 0);
}

} // namespace sim
