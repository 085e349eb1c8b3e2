// SPDX-License-Identifier: MIT
#pragma once

// The simulator's serial lines: pseudo-terminal pairs published as COM1..COMk links for
// TAVRO_PORT_DIR, or one existing terminal device. The header stays free of platform headers.

#include "Player.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// SIGINT and SIGTERM ask the simulator to stop. After installing, both are blocked except
// inside the waits of this file, which unblock them atomically: a signal ends any wait at
// once and is never lost between a check and a wait.
void InstallStopSignals();
bool StopSignalled();

// One pseudo-terminal pair. The simulator is the timer on the master side; the program
// opens the slave side through the link.
struct PtyPort {
    std::string name;   // "COM3"
    std::string device; // the slave side, "/dev/pts/7"
    int master = -1;
    // Held open by the simulator for the pair's whole life: while no program has the slave
    // open, the master would otherwise report a hang-up and reads on it fail with EIO.
    int slave = -1;
};

class PtyPorts {
public:
    // Creates `count` pairs and the links dir/COM1..dir/COMcount (an existing link of that
    // name is replaced; any other file is an error). An empty dir means a new temporary
    // folder. A folder this object created is removed again at destruction. Raises
    // std::system_error or std::runtime_error.
    PtyPorts(std::filesystem::path dir, unsigned count);
    ~PtyPorts();
    PtyPorts(const PtyPorts&) = delete;
    PtyPorts& operator=(const PtyPorts&) = delete;

    const std::filesystem::path& Dir() const { return dir; }
    std::vector<PtyPort>& Ports() { return ports; }

    // Closes both sides of port i (0-based) and removes its link: the program's reads and
    // writes on its descriptor fail from now on.
    void Unplug(std::size_t i);
    // A new pair under the same name; returns its slave device.
    std::string Replug(std::size_t i);

private:
    void Open(std::size_t i);
    void Link(std::size_t i);
    void Release();

    std::filesystem::path dir;
    bool createdDir = false;
    std::vector<PtyPort> ports;
};

// The line of one port of a PtyPorts set; the other ports stay silent, and whatever the
// program writes to them is read, counted and logged as stray.
std::unique_ptr<TimerLine> MakePtyLine(PtyPorts& ports, std::size_t timerIndex, Log& log);

// An existing terminal device, set to raw 9600 8N1. It cannot be unplugged. Refuses the
// machine's console (see IsSystemConsole). Raises std::system_error or std::runtime_error.
std::unique_ptr<TimerLine> MakeDeviceLine(const std::string& path);

// True when `device` is the kernel's console or one of its active consoles (listed in
// sysRoot/class/tty/console/active): reconfiguring it would take the machine's console away.
bool IsSystemConsole(const std::string& device, const std::filesystem::path& sysRoot = "/sys");

} // namespace sim
