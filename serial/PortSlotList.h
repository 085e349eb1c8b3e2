// SPDX-License-Identifier: MIT
#pragma once

#include "PortNames.h"

#include <string>
#include <vector>

// The ports the window's sixteen receiver threads listen on, as this system names them. On
// Linux the slots are "COM1".."COM16", resolved at each open through the kept port list (which
// this refreshes); on Windows they are the ports HKLM\HARDWARE\DEVICEMAP\SERIALCOMM lists now,
// in COM-number order without the Bluetooth ones ("COM1".."COM16" when the list cannot be
// read). An empty name is a slot with nothing to open. Asked at every connect and rescan, so
// that an adapter plugged in meanwhile is found.
std::vector<std::string> CurrentPortSlotNames();

// For the box that offers to retry when no port could be opened: one line per slot whose port
// exists and cannot be opened now, with its reason, or "No serial ports were found." Briefly
// opens each port it looks at, so call it only while the program's own ports are closed.
std::string DescribeUnopenableSlots(const std::vector<std::string>& slotNames);

// What the port watch looks at: this machine's roots on Linux (TAVRO_PORT_DIR, TAVRO_LOCK_DIR);
// on Windows the watch polls and needs none.
TPortRoots WatchedPortRoots();
