// SPDX-License-Identifier: MIT
#pragma once

// The session file: a plain text description of what the simulated timer holds, one record
// per line, in the order the timer sends them. The format is documented in SessionFileFormat
// (shown by --help) and in docs/SIMULATOR.md.

#include "Session.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace sim {

// A session text that cannot be played; what() is "NAME:LINE: reason" (or "NAME: reason").
class SessionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

extern const char* const SessionFileFormat;

// Parses a session text; `name` labels the messages. Raises SessionError on the first fault,
// including a group whose bytes would contain a stray header unit.
SimSession ParseSession(std::string_view text, const std::string& name);
SimSession LoadSessionFile(const std::string& path);

// Writes a session in the file format. Parsing the result gives the same groups, except the
// bits the program ignores (SimRecord::spare, a group-number record's payload), which the
// format does not carry.
std::string FormatSession(const SimSession& session);

// Raises SessionError when a group of the session would contain a stray header unit.
void CheckPlayable(const SimSession& session, const std::string& name);

} // namespace sim
