// SPDX-License-Identifier: MIT
#include "Options.h"

#include "SessionFile.h"

#include <charconv>
#include <functional>
#include <map>
#include <optional>

namespace sim {

namespace {

constexpr std::uint64_t maxMilliseconds = 24ULL * 3600 * 1000;
constexpr std::size_t maxGeneratedGroups = 10'000'000;

const char* const helpText = R"(Usage: tavro-sim [OPTION]...

A simulated Tavro lap and split timer. It makes pseudo-terminal ports, publishes them
as links COM1..COMk in a folder for the receiver program's TAVRO_PORT_DIR, and plays a
session on one of them as the timer does: per group a header unit, the records and an
end record with the XOR check value, then it waits for the one-byte reply: 0xFA moves
on; 0xF0, any other byte or no reply in time sends the group again with a new header
unit, up to the retry limit. The other ports stay silent.

Ports:
  --dir DIR            folder for the links (made if missing, and then removed at the
                       end); default: a new temporary folder, named in the log
  --ports K            number of ports, 1..64 (default 4)
  --timer-port N       the port that plays the session, 1..K (default 1)
  --device PATH        play on this terminal device instead, set to raw 9600 8N1; the
                       machine's console is refused

Session (one of):
  --demo               the built-in demo: two days of 400 m repeats (the default)
  --session FILE       a session file, format below
  --seed S, --groups N N groups generated from seed S (defaults: seed 1, 100 groups),
                       ordinary trainings mixed with edge cases
  --expect FILE        write the text the program must show once every group has
                       arrived: each group's report in order, CR LF line ends, as
                       "Save as" writes it
  --dump-session FILE  write the session in the file format

Protocol:
  --reply-timeout MS   wait for a reply this long (default 3000)
  --retries N          sendings of a group after its first, 0..1000 (default 5);
                       then the group is given up and the next one follows
  --start-delay MS     wait before the first group (default 0)
  --gap MS             wait after an acknowledged group (default 200)
  --gap-jitter MS      and a random 0..MS more (default 0)
  --linger MS          after the last group, go on logging late bytes (default 0)
  --exit-when-done     exit when the session is done (the default)
  --keep-open          keep the ports after the session until SIGINT or SIGTERM

Faults. WHEN is a group position G (1 is the session's first group), every:N
(groups N, 2N, ...), all, or a comma list of those. Each of bad-check, bad-unit and
unplug spoils one sending of a group; the sendings after them are clean.
  --garbage WHEN       random bytes before the group; they never form a header unit
  --bad-check WHEN     a wrong check value (the program answers 0xF0)
  --bad-unit WHEN      a unit whose byte 0 is not 0xAB inside the group: the group
                       never completes, no reply comes, the time-out resends it
  --fragment WHEN      every sending in pieces of 1..--fragment-max bytes with
                       --fragment-delay between them
  --unplug WHEN        cut the group short, close the port and remove its link, and
                       after --replug-delay publish a new port under the same name
                       and send the group again
  --all-faults         garbage every:2, fragment every:3, bad-check every:5,
                       bad-unit every:7, unplug every:11
  --garbage-max BYTES  longest garbage (default 48)
  --fragment-max BYTES largest piece (default 6)
  --fragment-delay MS  pause between pieces (default 20)
  --replug-delay MS    time without the port (default 500)
  --fault-seed S       seed for header units and fault details (default: --seed)

Other:
  --log FILE           write the log to FILE instead of standard output
  --help, --version

Log: one event per line, words and then name-value pairs. G is the group's position
in the session, NNN its group number (- when it sends none), A the sending (1 first).
  session groups N source demo|file PATH|seed S
  port COMi device /dev/pts/X          one per port made
  ready dir DIR ports K timer COMn     the links exist; sending starts
  ready device PATH                    the same with --device
  garbage group G bytes N
  send group G number NNN attempt A bytes N [fault bad-check|bad-unit|unplug]
  fragment group G attempt A pieces N  after a fragmented sending
  reply 0xXX group G attempt A us T    T: microseconds from the end record's last byte
  timeout group G attempt A
  unplug port COMn group G attempt A after N     N bytes of the sending went out
  replug port COMn device /dev/pts/Y
  late 0xXX group G attempt A          a byte that came while no reply was awaited;
                                       G and A name the last sending awaited
  stray port COMi bytes N              the program wrote to a silent port
  overflow port COMn unread bytes dropped   nobody read the line for 0.5 s while its
                                       buffer was full: dropped, as a real line would
  give-up group G attempts N
  done groups N acknowledged N given-up N sendings N naks N other N timeouts N
       late N unplugs N stray N interrupted 0|1
  keep-open                            with --keep-open, after the summary
  stop requested                       after SIGINT or SIGTERM

Exit status: 0 every group was acknowledged with 0xFA; 1 a group was given up;
2 bad option or unusable session, expect, dump or log file; 3 the ports or the
device failed; 4 stopped by SIGINT or SIGTERM before every group was acknowledged.
The links it made are removed whenever it ends, except after SIGKILL.

)";

std::uint64_t parseNumber(const std::string& option, const std::string& text, std::uint64_t min, std::uint64_t max) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        throw UsageError(option + " wants a number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", not '" + text + "'");
    return value;
}

Milliseconds parseMilliseconds(const std::string& option, const std::string& text) {
    return Milliseconds(parseNumber(option, text, 0, maxMilliseconds));
}

} // namespace

GroupSelector ParseGroupSelector(const std::string& text) {
    GroupSelector selector;
    std::size_t start = 0;
    do {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? text.size() + 1 : comma + 1;
        if (item == "all")
            selector.all = true;
        else if (item.starts_with("every:"))
            selector.every = parseNumber("every:N", item.substr(6), 1, maxGeneratedGroups);
        else
            selector.groups.push_back(parseNumber("a group position", item, 1, maxGeneratedGroups));
    } while (start <= text.size());
    return selector;
}

Config ParseCommandLine(const std::vector<std::string>& args) {
    Config config;
    std::optional<std::uint64_t> faultSeed;
    bool sourceGiven = false;
    bool ports = false;
    bool unplugAsked = false;
    bool allFaults = false;

    auto source = [&](SessionSource s, const std::string& option) {
        if (sourceGiven && config.source != s)
            throw UsageError(option + " names a second session; give one of --demo, --session, --seed/--groups");
        sourceGiven = true;
        config.source = s;
    };

    using Handler = std::function<void(const std::string& option, const std::string& value)>;
    const std::map<std::string, Handler> withValue{
        {"--dir", [&](auto&, auto& v) { config.dir = v, ports = true; }},
        {"--ports",
         [&](auto& o, auto& v) { config.ports = static_cast<unsigned>(parseNumber(o, v, 1, maxPorts)), ports = true; }},
        {"--timer-port",
         [&](auto& o, auto& v) {
             config.timerPort = static_cast<unsigned>(parseNumber(o, v, 1, maxPorts)), ports = true;
         }},
        {"--device", [&](auto&, auto& v) { config.device = v; }},
        {"--session", [&](auto& o, auto& v) { source(SessionSource::file, o), config.sessionPath = v; }},
        {"--seed",
         [&](auto& o, auto& v) {
             source(SessionSource::generated, o), config.seed = parseNumber(o, v, 0, UINT64_MAX);
         }},
        {"--groups",
         [&](auto& o, auto& v) {
             source(SessionSource::generated, o), config.groups = parseNumber(o, v, 1, maxGeneratedGroups);
         }},
        {"--expect", [&](auto&, auto& v) { config.expectPath = v; }},
        {"--dump-session", [&](auto&, auto& v) { config.dumpPath = v; }},
        {"--log", [&](auto&, auto& v) { config.logPath = v; }},
        {"--reply-timeout", [&](auto& o, auto& v) { config.play.replyTimeout = parseMilliseconds(o, v); }},
        {"--retries",
         [&](auto& o, auto& v) { config.play.retries = static_cast<unsigned>(parseNumber(o, v, 0, 1000)); }},
        {"--start-delay", [&](auto& o, auto& v) { config.play.startDelay = parseMilliseconds(o, v); }},
        {"--gap", [&](auto& o, auto& v) { config.play.gap = parseMilliseconds(o, v); }},
        {"--gap-jitter", [&](auto& o, auto& v) { config.play.gapJitter = parseMilliseconds(o, v); }},
        {"--linger", [&](auto& o, auto& v) { config.play.linger = parseMilliseconds(o, v); }},
        {"--garbage", [&](auto&, auto& v) { config.play.faults.garbage = ParseGroupSelector(v); }},
        {"--bad-check", [&](auto&, auto& v) { config.play.faults.badCheck = ParseGroupSelector(v); }},
        {"--bad-unit", [&](auto&, auto& v) { config.play.faults.badUnit = ParseGroupSelector(v); }},
        {"--fragment", [&](auto&, auto& v) { config.play.faults.fragment = ParseGroupSelector(v); }},
        {"--unplug", [&](auto&, auto& v) { config.play.faults.unplug = ParseGroupSelector(v), unplugAsked = true; }},
        {"--garbage-max", [&](auto& o, auto& v) { config.play.faults.garbageMaxBytes = parseNumber(o, v, 1, 65536); }},
        {"--fragment-max",
         [&](auto& o, auto& v) { config.play.faults.fragmentMaxBytes = parseNumber(o, v, 1, 65536); }},
        {"--fragment-delay", [&](auto& o, auto& v) { config.play.faults.fragmentDelay = parseMilliseconds(o, v); }},
        {"--replug-delay", [&](auto& o, auto& v) { config.play.faults.replugDelay = parseMilliseconds(o, v); }},
        {"--fault-seed", [&](auto& o, auto& v) { faultSeed = parseNumber(o, v, 0, UINT64_MAX); }},
    };
    const std::map<std::string, std::function<void()>> flags{
        {"--demo", [&] { source(SessionSource::demo, "--demo"); }},
        {"--keep-open", [&] { config.play.keepOpen = true; }},
        {"--exit-when-done", [&] { config.play.keepOpen = false; }},
        {"--all-faults", [&] { allFaults = true; }},
        {"--help", [&] { config.help = true; }},
        {"-h", [&] { config.help = true; }},
        {"--version", [&] { config.version = true; }},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> value;
        if (const auto eq = option.find('='); option.starts_with("--") && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
        }
        if (const auto flag = flags.find(option); flag != flags.end()) {
            if (value)
                throw UsageError(option + " takes no value");
            flag->second();
        } else if (const auto handler = withValue.find(option); handler != withValue.end()) {
            if (!value) {
                if (i + 1 >= args.size())
                    throw UsageError(option + " wants a value");
                value = args[++i];
            }
            handler->second(option, *value);
        } else {
            throw UsageError("unknown option '" + args[i] + "'");
        }
    }

    if (!config.device.empty() && ports)
        throw UsageError("--device plays on one existing line; --dir, --ports and --timer-port make ports");
    if (!config.device.empty() && unplugAsked)
        throw UsageError("--unplug needs the simulator's own ports; a --device cannot be unplugged");
    if (config.timerPort > config.ports)
        throw UsageError("--timer-port " + std::to_string(config.timerPort) + " is beyond --ports " +
                         std::to_string(config.ports));
    if (allFaults) {
        FaultPlan& f = config.play.faults;
        auto every = GroupSelector::Every;
        f.garbage = every(2);
        f.fragment = every(3);
        f.badCheck = every(5);
        f.badUnit = every(7);
        if (config.device.empty())
            f.unplug = every(11);
    }
    config.play.seed = faultSeed.value_or(config.seed);
    return config;
}

std::string HelpText() {
    return std::string(helpText) + SessionFileFormat;
}

} // namespace sim
