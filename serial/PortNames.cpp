// SPDX-License-Identifier: MIT
#include "PortNames.h"

#include "CommPort.h"
#include "PortDevices.h"
#include "PortHolders.h"

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

// While listening, names are resolved in bursts of sixteen; a list this young is current.
constexpr auto systemListLifetime = std::chrono::seconds(1);

// The kernel's usual name for each kind, which keeps its place before vendor drivers' names
// of the same kind, so that adding a vendor adapter does not renumber the usual ones.
constexpr std::string_view usualStems[] = {"ttyUSB", "ttyACM", "ttyS", "ttyAMA"};

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

std::string ComName(std::uint32_t number) {
    return std::string(comPrefix) + std::to_string(number);
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

// Where a terminal goes in the COM numbering: by kind, the usual name first, then by name and
// number ("ttyUSB2" before "ttyUSB10").
struct PortOrder {
    TPortKind kind;
    bool unusualStem;
    std::string stem;
    std::uint32_t number;
    std::string name;

    auto operator<=>(const PortOrder&) const = default;
};

PortOrder OrderOf(TPortKind kind, const std::string& name) {
    const auto digits = name.find_last_not_of("0123456789") + 1;
    const std::string stem = name.substr(0, digits);
    const std::uint32_t number = NumberAfter(name, stem).value_or(0);
    return {kind, stem != usualStems[static_cast<std::size_t>(kind)], stem, number, name};
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
        ports.push_back({ComName(n), path.string()});
    }
    return ports;
}

// The system's ports in the order in which new ones are numbered, each with what it takes to
// know it again.
std::vector<TPresentPort> ListPresentPorts(const TPortRoots& roots) {
    const fs::path ttyClass = fs::path(roots.sysfs) / "class" / "tty";
    const std::set<std::string> consoles = ActiveConsoles(ttyClass);
    std::vector<PortOrder> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(ttyClass, error)) {
        const std::string name = entry.path().filename().string();
        if (consoles.contains(name)) {
            continue;
        }
        if (const auto kind = ClassifyTty(roots.sysfs, name)) {
            found.push_back(OrderOf(*kind, name));
        }
    }
    // A serial login would lose its line to our settings and its input to our reads.
    if (!found.empty()) {
        const std::set<std::string> served = GettyTerminals(roots.proc);
        std::erase_if(found, [&](const PortOrder& port) { return served.contains(port.name); });
    }
    std::sort(found.begin(), found.end());
    std::vector<TPresentPort> ports;
    for (const PortOrder& port : found) {
        ports.push_back({(fs::path(roots.dev) / port.name).string(), UsbIdentityOf(roots.sysfs, port.name)});
    }
    return ports;
}

std::string ResolveInList(const std::string& portName, const TPortRoots& roots,
                          const std::vector<TSerialPortInfo>& ports) {
    if (portName.starts_with('/')) {
        return portName;
    }
    if (!ComNumber(portName)) {
        return {};
    }
    if (!roots.portDir.empty()) {
        std::error_code error;
        return fs::absolute(fs::path(roots.portDir) / portName, error).string();
    }
    const auto found = std::find_if(ports.begin(), ports.end(),
                                    [&](const TSerialPortInfo& port) { return port.portName == portName; });
    return found == ports.end() ? std::string() : found->devicePath;
}

bool SameSystem(const TPortRoots& a, const TPortRoots& b) {
    return a.sysfs == b.sysfs && a.dev == b.dev && a.proc == b.proc;
}

} // namespace

TPortRoots SystemPortRoots() {
    TPortRoots roots;
    if (const char* dir = std::getenv("TAVRO_PORT_DIR")) {
        roots.portDir = dir;
    }
    if (const char* dir = std::getenv("TAVRO_LOCK_DIR"); dir != nullptr && *dir != '\0') {
        roots.lockDir = dir;
    }
    return roots;
}

std::vector<TSerialPortInfo> ListSerialPorts(const TPortRoots& roots) {
    return roots.portDir.empty() ? SystemPortList().List(roots) : ListDirectoryPorts(roots.portDir);
}

std::string ResolvePortName(const std::string& portName, const TPortRoots& roots) {
    const bool needsList = roots.portDir.empty() && !portName.starts_with('/') && ComNumber(portName);
    return ResolveInList(portName, roots, needsList ? SystemPortList().List(roots) : std::vector<TSerialPortInfo>());
}

void TPortList::Refresh(const TPortRoots& roots) {
    const std::lock_guard lock(mutex);
    RefreshLocked(roots);
}

std::vector<TSerialPortInfo> TPortList::List(const TPortRoots& roots) {
    const std::lock_guard lock(mutex);
    RefreshLocked(roots);
    return ports;
}

// Another system's numbers say nothing about this one's devices.
void TPortList::RefreshLocked(const TPortRoots& roots) {
    if (built && !SameSystem(builtFor, roots)) {
        numbering = TPortNumbering();
    }
    const std::vector<TPresentPort> present = ListPresentPorts(roots);
    const std::vector<std::uint32_t> numbers = numbering.Assign(present);
    std::vector<std::pair<std::uint32_t, std::string>> numbered;
    for (std::size_t i = 0; i < present.size(); ++i) {
        numbered.emplace_back(numbers[i], present[i].devicePath);
    }
    std::sort(numbered.begin(), numbered.end());
    ports.clear();
    for (const auto& [number, devicePath] : numbered) {
        ports.push_back({ComName(number), devicePath});
    }
    builtFor = roots;
    builtAt = std::chrono::steady_clock::now();
    built = true;
}

std::string TPortList::Resolve(const std::string& portName, const TPortRoots& roots) {
    if (!roots.portDir.empty() || portName.starts_with('/') || !ComNumber(portName)) {
        return ResolveInList(portName, roots, {});
    }
    const std::lock_guard lock(mutex);
    if (!built || !SameSystem(builtFor, roots) || std::chrono::steady_clock::now() - builtAt > lifetime) {
        RefreshLocked(roots);
    }
    return ResolveInList(portName, roots, ports);
}

TPortList& SystemPortList() {
    static TPortList list(systemListLifetime);
    return list;
}

void RefreshSerialPorts() {
    const TPortRoots roots = SystemPortRoots();
    if (roots.portDir.empty()) {
        SystemPortList().Refresh(roots);
    }
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
            probe.OpenCommPort(roots);
            probe.CloseCommPort();
        } catch (const ECommError& error) {
            lines += (lines.empty() ? "" : "\n") +
                     CommErrorReason(error, port.portName, port.devicePath, probe.GetOpenFailure());
        }
    }
    return lines;
}
