// SPDX-License-Identifier: MIT
#include "PortNames.h"

#include "CommPort.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view comPrefix = "COM";

// The kernel names of serial ports, in the order in which they get COM numbers: an adapter the
// user plugged in is far more likely to be the timer than a port built into the machine.
constexpr std::array<std::string_view, 5> deviceGroups = {"ttyUSB", "ttyACM", "ttyS", "ttyAMA", "rfcomm"};

// The number after `prefix` in `name` ("ttyUSB12" -> 12), or nothing unless the rest is plain
// decimal digits without a leading zero. So "COMn" can never carry a path into portDir.
std::optional<std::uint32_t> NumberAfter(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || (digits.front() == '0' && digits.size() > 1)) {
        return std::nullopt;
    }
    std::uint32_t n = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return n;
}

std::optional<std::uint32_t> ComNumber(std::string_view name) {
    const auto n = NumberAfter(name, comPrefix);
    return n && *n > 0 ? n : std::nullopt;
}

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::set<std::string> ActiveConsoles(const fs::path& ttyClass) {
    std::istringstream words(ReadFirstLine(ttyClass / "console" / "active"));
    std::set<std::string> names;
    for (std::string word; words >> word;) {
        names.insert(word);
    }
    return names;
}

// The 8250 driver registers a ttyS for every possible UART slot; a slot without a chip has the
// UART type 0 (unknown) and cannot be opened usefully.
bool HasHardware(const fs::path& ttyEntry, std::string_view group) {
    if (group != "ttyS") {
        return true;
    }
    const std::string type = ReadFirstLine(ttyEntry / "type");
    return !type.empty() && type != "0";
}

std::vector<TSerialPortInfo> ListDirectoryPorts(const fs::path& portDir) {
    std::vector<std::pair<std::uint32_t, fs::path>> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(portDir, error)) {
        const auto n = ComNumber(entry.path().filename().string());
        std::error_code existsError;
        if (n && fs::exists(entry.path(), existsError)) {
            found.emplace_back(*n, fs::absolute(entry.path(), existsError));
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<TSerialPortInfo> ports;
    for (const auto& [n, path] : found) {
        ports.push_back({std::string(comPrefix) + std::to_string(n), path.string()});
    }
    return ports;
}

std::vector<TSerialPortInfo> ListSystemPorts(const TPortRoots& roots) {
    const fs::path ttyClass = fs::path(roots.sysfs) / "class" / "tty";
    const std::set<std::string> consoles = ActiveConsoles(ttyClass);
    std::vector<std::vector<std::pair<std::uint32_t, std::string>>> groups(deviceGroups.size());
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(ttyClass, error)) {
        const std::string name = entry.path().filename().string();
        if (consoles.contains(name)) {
            continue;
        }
        for (std::size_t g = 0; g < deviceGroups.size(); ++g) {
            const auto n = NumberAfter(name, deviceGroups[g]);
            if (n && HasHardware(entry.path(), deviceGroups[g])) {
                groups[g].emplace_back(*n, name);
            }
        }
    }
    std::vector<TSerialPortInfo> ports;
    for (auto& group : groups) {
        std::sort(group.begin(), group.end());
        for (const auto& [n, name] : group) {
            ports.push_back(
                {std::string(comPrefix) + std::to_string(ports.size() + 1), (fs::path(roots.dev) / name).string()});
        }
    }
    return ports;
}

} // namespace

TPortRoots SystemPortRoots() {
    TPortRoots roots;
    if (const char* dir = std::getenv("TAVRO_PORT_DIR")) {
        roots.portDir = dir;
    }
    return roots;
}

std::vector<TSerialPortInfo> ListSerialPorts(const TPortRoots& roots) {
    return roots.portDir.empty() ? ListSystemPorts(roots) : ListDirectoryPorts(roots.portDir);
}

std::string ResolvePortName(const std::string& portName, const TPortRoots& roots) {
    if (portName.starts_with('/')) {
        return portName;
    }
    const auto n = ComNumber(portName);
    if (!n) {
        return {};
    }
    if (!roots.portDir.empty()) {
        std::error_code error;
        return fs::absolute(fs::path(roots.portDir) / portName, error).string();
    }
    const auto ports = ListSystemPorts(roots);
    return *n <= ports.size() ? ports[*n - 1].devicePath : std::string();
}

std::string DescribeUnopenablePorts(const TPortRoots& roots, std::uint32_t lastPortNumber) {
    const auto ports = ListSerialPorts(roots);
    if (ports.empty()) {
        return "No serial ports were found.";
    }
    std::string lines;
    for (const auto& port : ports) {
        if (ComNumber(port.portName).value_or(0) > lastPortNumber) {
            break;
        }
        TCommPort probe;
        probe.SetPortName(port.devicePath);
        try {
            probe.OpenCommPort();
            probe.CloseCommPort();
        } catch (const ECommError& error) {
            lines += (lines.empty() ? "" : "\n") + CommErrorReason(error, port.portName, port.devicePath);
        }
    }
    return lines;
}
