// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <set>
#include <string>
#include <sys/types.h>

// Who else uses a serial device, read from a tree laid out like /proc (`procRoot`). Entries
// that cannot be read (processes of other users, processes that end meanwhile) are passed
// over: these are hints for keeping away, not proofs.

struct TProcessInfo {
    pid_t pid = 0;
    std::string name; // as the process calls itself ("minicom"); empty when unreadable
};

// The name in procRoot/<pid>/comm, or an empty text.
std::string ProcessName(const std::string& procRoot, pid_t pid);

// A process other than `self` with a descriptor open on `device` ("/dev/ttyUSB0"), found by
// the targets of the links procRoot/<pid>/fd/*. Stops at the first one.
std::optional<TProcessInfo> FindDeviceHolder(const std::string& procRoot, const std::string& device, pid_t self);

// The terminals that login programs (getty, agetty, mgetty, ...) serve: the last path
// component of each of their arguments ("ttyS1" for "ttyS1" or "/dev/ttyS1") and of their
// standard input. The command lines are readable for every user, unlike the descriptors.
std::set<std::string> GettyTerminals(const std::string& procRoot);
