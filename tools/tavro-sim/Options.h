// SPDX-License-Identifier: MIT
#pragma once

#include "Player.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// Exit status of tavro-sim.
inline constexpr int exitAllAcknowledged = 0;
inline constexpr int exitGroupGivenUp = 1;
inline constexpr int exitUsage = 2;      // bad option, or a session, expect or log file that failed
inline constexpr int exitLineFailed = 3; // ports or device could not be made, opened or used
inline constexpr int exitStopped = 4;    // SIGINT or SIGTERM before every group was acknowledged

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SessionSource { demo, file, generated };

struct Config {
    std::filesystem::path dir;
    unsigned ports = 4;
    unsigned timerPort = 1;
    std::string device;

    SessionSource source = SessionSource::demo;
    std::string sessionPath;
    std::uint64_t seed = 1;
    std::size_t groups = 100;
    std::string expectPath;
    std::string dumpPath;
    std::string logPath;

    PlayOptions play;
    bool help = false;
    bool version = false;
};

inline constexpr unsigned maxPorts = 64;

// Raises UsageError with a one-line reason.
Config ParseCommandLine(const std::vector<std::string>& args);

// Parses a WHEN value of the fault options: "G", "every:N", "all", or a comma list of those.
GroupSelector ParseGroupSelector(const std::string& text);

std::string HelpText();

} // namespace sim
