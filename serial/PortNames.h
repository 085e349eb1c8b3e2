// SPDX-License-Identifier: MIT
#pragma once

#include "PortNumbering.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Where the system's serial ports, their users and their lock files are looked up. Tests
// point these at fake trees.
struct TPortRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    // When not empty, "COMn" is the file portDir/COMn and the system's ports are not looked at.
    std::string portDir;
    std::string proc = "/proc";
    // The UUCP lock folder; TAVRO_LOCK_DIR names another one (tests).
    std::string lockDir = "/run/lock";
};

// The roots of this machine, with portDir taken from the environment variable TAVRO_PORT_DIR
// and lockDir from TAVRO_LOCK_DIR (an empty value counts as unset).
TPortRoots SystemPortRoots();

struct TSerialPortInfo {
    std::string portName;   // "COM1"
    std::string devicePath; // "/dev/ttyUSB0"
};

// The serial ports that exist, in COMn order: with portDir set, its COMn files; otherwise the
// terminals that sysfs shows with hardware behind them, numbered by the process's kept list
// (SystemPortList, which this refreshes), so the numbers are those that opening goes by. Never
// listed: the kernel's active console (opening it would reconfigure the machine's console),
// a terminal that a login program (getty) serves, a Bluetooth link (opening one dials the
// paired device). The numbering goes on past 16, and has gaps where a port is missing.
std::vector<TSerialPortInfo> ListSerialPorts(const TPortRoots& roots);

// The device behind a port name: "COMn" as listed above, a name starting with "/" as it
// stands; an empty text when the name matches no port (or a port that is missing now).
std::string ResolvePortName(const std::string& portName, const TPortRoots& roots);

// The system's ports kept between opens, so that listening on sixteen names walks sysfs and
// /proc once and not sixteen times. It is walked again by Refresh and List, and by Resolve
// when it is older than its lifetime (an adapter plugged in meanwhile is then found).
//
// It also keeps the COM numbers for as long as it lives (see PortNumbering.h): the first walk
// numbers the ports by kind (USB adapters, USB modems, built-in UARTs, ARM PL011 UARTs; see
// PortDevices.h), each kind in numeric order; a port found later takes the lowest free
// number; a port that is pulled out keeps its number until it comes back, under the same
// name or, on USB, as the same device in the same USB port. Asked about other roots, it starts
// the numbering over. Safe to use from several threads.
class TPortList {
public:
    explicit TPortList(std::chrono::milliseconds lifetime) : lifetime(lifetime) {}
    void Refresh(const TPortRoots& roots);
    // The ports there now with their numbers, walked afresh, in COMn order.
    std::vector<TSerialPortInfo> List(const TPortRoots& roots);
    // As ResolvePortName, from the kept list.
    std::string Resolve(const std::string& portName, const TPortRoots& roots);

private:
    void RefreshLocked(const TPortRoots& roots);

    const std::chrono::milliseconds lifetime;
    std::mutex mutex;
    bool built = false;
    TPortRoots builtFor;
    std::chrono::steady_clock::time_point builtAt;
    TPortNumbering numbering;
    std::vector<TSerialPortInfo> ports; // present now, by number
};

// The list that TCommPort::OpenCommPort resolves names against. The window refreshes it at
// the start of every connect and every rescan.
TPortList& SystemPortList();
void RefreshSerialPorts();

// For the box that offers to retry when no port could be opened: one line per port among
// COM1..COM{lastPortNumber} that exists and cannot be opened now, with its reason, or "No serial
// ports were found." when the system has none. Briefly opens each port it looks at that no one
// else holds, so call it only while the program's own ports are closed.
std::string DescribeUnopenablePorts(const TPortRoots& roots, std::uint32_t lastPortNumber = 16);
