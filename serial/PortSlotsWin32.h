// SPDX-License-Identifier: MIT
#pragma once

#include "PortSlots.h"

#include <optional>
#include <vector>

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM as it is now, in the registry's order; nullopt when the key
// is missing or cannot be read. Windows only.
std::optional<std::vector<TSerialCommEntry>> ReadSerialComm();

// PortSlotNames of the system's list now: the names the window gives its sixteen receiver
// threads at every connect, and labels its slots with (status line, retry box). Windows only.
std::vector<std::string> SystemPortSlotNames();
