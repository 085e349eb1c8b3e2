// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

// One of the kernel's device events as it arrives on the uevent netlink socket: a summary line
// "add@/devices/.../tty/ttyUSB0" and then NUL-terminated KEY=value fields.
struct TUeventMessage {
    std::string action;    // "add", "remove", "move", "change", "bind", ...
    std::string devPath;   // "/devices/pci0000:00/.../ttyUSB0"
    std::string subsystem; // "tty"
    std::string devName;   // "ttyUSB0"; empty for devices without a node
};

// The event in `datagram`, or nothing when it is not a well-formed kernel event: no summary
// line, a summary whose action or path disagrees with its fields, no ACTION, DEVPATH or
// SUBSYSTEM, a field without '=', or a message of the device manager (which starts
// "libudev"). The datagram may or may not end with a NUL.
std::optional<TUeventMessage> ParseUevent(std::string_view datagram);

// Whether the event can change which serial ports exist: a terminal added, removed or renamed.
bool ChangesSerialPorts(const TUeventMessage& event);
