// SPDX-License-Identifier: MIT
#pragma once

#include "Session.h"

#include <cstddef>
#include <cstdint>

namespace sim {

// The built-in demo in the session file format: one morning and one afternoon of 400 m
// repeats, some groups with lap statistics, one without an end time.
extern const char* const DemoSessionText;
SimSession DemoSession();

// `count` groups from `seed`. Most are ordinary trainings; the rest carry the material a
// receiver gets wrong: absent times, skipped and repeated lap numbers, lap 0, laps out of
// order, split records, lap numbers of two and three digits, sums past nine hours, dates
// without a weekday, groups without number or date, unknown record types, and values in the
// bits the program must ignore. The same seed gives the same session everywhere.
SimSession GenerateSession(std::uint64_t seed, std::size_t count);

} // namespace sim
