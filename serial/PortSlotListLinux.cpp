// SPDX-License-Identifier: MIT
#include "PortSlotList.h"

#include "PortSlots.h"

std::vector<std::string> CurrentPortSlotNames() {
    RefreshSerialPorts();
    std::vector<std::string> names;
    for (std::size_t slot = 0; slot < portSlotCount; ++slot)
        names.push_back("COM" + std::to_string(slot + 1));
    return names;
}

std::string DescribeUnopenableSlots(const std::vector<std::string>& slotNames) {
    return DescribeUnopenablePorts(SystemPortRoots(), static_cast<std::uint32_t>(slotNames.size()));
}

TPortRoots WatchedPortRoots() {
    return SystemPortRoots();
}
