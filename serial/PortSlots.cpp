// SPDX-License-Identifier: MIT
#include "PortSlots.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <string_view>

namespace {

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

// n of "COMn" (any case), nothing for other names.
std::optional<unsigned> ComNumber(const std::string& name) {
    const std::string upper = Upper(name);
    if (upper.size() < 4 || upper.compare(0, 3, "COM") != 0)
        return std::nullopt;
    unsigned number = 0;
    const char* first = upper.data() + 3;
    const char* last = upper.data() + upper.size();
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc() || end != last || *first == '0')
        return std::nullopt;
    return number;
}

} // namespace

bool IsBluetoothDevice(const std::string& deviceName) {
    return Upper(deviceName).starts_with("\\DEVICE\\BTHMODEM");
}

std::vector<std::string> PortSlotNames(const std::optional<std::vector<TSerialCommEntry>>& serialComm) {
    std::vector<std::string> slots;
    if (!serialComm) {
        for (std::size_t n = 1; n <= portSlotCount; ++n)
            slots.push_back("COM" + std::to_string(n));
        return slots;
    }
    struct Port {
        std::optional<unsigned> number;
        std::string name;
    };
    std::vector<Port> ports;
    std::set<std::string> seen;
    for (const TSerialCommEntry& entry : *serialComm) {
        if (entry.portName.empty() || IsBluetoothDevice(entry.deviceName))
            continue;
        if (!seen.insert(Upper(entry.portName)).second)
            continue;
        ports.push_back({ComNumber(entry.portName), entry.portName});
    }
    std::sort(ports.begin(), ports.end(), [](const Port& a, const Port& b) {
        if (a.number.has_value() != b.number.has_value())
            return a.number.has_value();
        if (a.number && *a.number != *b.number)
            return *a.number < *b.number;
        return a.name < b.name;
    });
    for (const Port& port : ports) {
        if (slots.size() == portSlotCount)
            break;
        slots.push_back(port.name);
    }
    slots.resize(portSlotCount);
    return slots;
}

std::string PortDevicePath(const std::string& portName) {
    if (portName.empty() || portName.starts_with("\\\\"))
        return portName;
    return "\\\\.\\" + portName;
}
