// SPDX-License-Identifier: MIT
#pragma once

#include <ctime>

// What Journal.cpp needs of the platform besides its file system, implemented beside
// SystemJournalFileSystem() in JournalPosix.cpp (JournalWin32.cpp on Windows). Not part of the
// journal's interface.

// `when` broken down in the local time zone (localtime_r; localtime_s).
std::tm JournalLocalTime(std::time_t when);
