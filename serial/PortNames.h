// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where the system's serial ports are looked up. Tests point these at a fake tree.
struct TPortRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    // When not empty, "COMn" is the file portDir/COMn and the system's ports are not looked at.
    std::string portDir;
};

// The roots of this machine, with portDir taken from the environment variable TAVRO_PORT_DIR
// (an empty value counts as unset).
TPortRoots SystemPortRoots();

struct TSerialPortInfo {
    std::string portName;   // "COM1"
    std::string devicePath; // "/dev/ttyUSB0"
};

// The serial ports that exist, in COMn order: with portDir set, its COMn files; otherwise USB
// adapters (ttyUSB*), USB modems (ttyACM*), built-in UARTs with hardware behind them (ttyS*),
// ttyAMA* and rfcomm*, each group in numeric order. The kernel's active console is never
// listed: opening it would reconfigure the machine's console. The numbering goes on past 16.
std::vector<TSerialPortInfo> ListSerialPorts(const TPortRoots& roots);

// The device behind a port name: "COMn" as listed above, a name starting with "/" as it
// stands; an empty text when the name matches no port.
std::string ResolvePortName(const std::string& portName, const TPortRoots& roots);

// For the box that offers to retry when no port could be opened: one line per port among
// COM1..COM{lastPortNumber} that exists and cannot be opened now, with its reason, or "No serial
// ports were found." when the system has none. Briefly opens each port it looks at, so call it
// only while the program's own ports are closed.
std::string DescribeUnopenablePorts(const TPortRoots& roots, std::uint32_t lastPortNumber = 16);
