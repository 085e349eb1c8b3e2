// SPDX-License-Identifier: MIT
#include "PortNumbering.h"

#include <set>

// A USB port is known only by its identity: another adapter may be given the kernel name of a
// missing one, and must not take its number. A name alone never takes a USB port's number.
bool TPortNumbering::Matches(const Holder& holder, const TPresentPort& port) const {
    if (port.usb) {
        return holder.usb == port.usb;
    }
    return !holder.usb && holder.devicePath == port.devicePath;
}

std::vector<std::uint32_t> TPortNumbering::Assign(const std::vector<TPresentPort>& present) {
    std::vector<std::uint32_t> numbers(present.size(), 0);
    std::vector<bool> matched(holders.size(), false);
    for (std::size_t i = 0; i < present.size(); ++i) {
        for (std::size_t h = 0; h < holders.size(); ++h) {
            if (!matched[h] && Matches(holders[h], present[i])) {
                matched[h] = true;
                numbers[i] = holders[h].number;
                holders[h].devicePath = present[i].devicePath;
                break;
            }
        }
    }
    std::set<std::uint32_t> given;
    for (const Holder& holder : holders) {
        given.insert(holder.number);
    }
    std::uint32_t next = 1;
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (numbers[i] != 0) {
            continue;
        }
        while (given.contains(next)) {
            ++next;
        }
        numbers[i] = next;
        given.insert(next);
        holders.push_back({next, present[i].devicePath, present[i].usb});
    }
    return numbers;
}
