// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a USB serial port is and where it is plugged in: enough to know it again after it was
// pulled out, whatever kernel name it gets when it comes back.
struct TUsbIdentity {
    std::string vendor;   // idVendor, "0403"
    std::string product;  // idProduct, "6001"
    std::string serial;   // empty when the device reports none
    std::string portPath; // the USB port chain and interface, "1-4.2:1.0"

    bool operator==(const TUsbIdentity&) const = default;
};

// A serial port that is there now.
struct TPresentPort {
    std::string devicePath;          // "/dev/ttyUSB0"
    std::optional<TUsbIdentity> usb; // nothing for a port that is not on USB
};

// Gives each serial port a COM number that stays with it for the whole run. A number is the
// user's name for a device (and the window's slot for it): if pulling one adapter renumbered
// the others, a slot would reopen on a port that another slot holds, and the timer would be
// listened to under no number at all.
//
// The first listing numbers the ports 1, 2, ... in the order given. Later, a port that was
// numbered before gets its number back: a USB port by its identity (the number that had that
// identity first), any other port by its device path. A port seen for the first time takes the
// lowest number never given out, so the number of a missing port stays free for its return.
// Not safe to use from two threads at once.
class TPortNumbering {
public:
    // `present`: the ports there now, in the order in which new ones are numbered. Returns
    // their numbers, in the same order.
    std::vector<std::uint32_t> Assign(const std::vector<TPresentPort>& present);

private:
    struct Holder {
        std::uint32_t number;
        std::string devicePath; // its latest
        std::optional<TUsbIdentity> usb;
    };
    bool Matches(const Holder& holder, const TPresentPort& port) const;

    std::vector<Holder> holders; // in the order their numbers were given
};
