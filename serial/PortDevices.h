// SPDX-License-Identifier: MIT
#pragma once

#include "PortNumbering.h"

#include <cstdint>
#include <optional>
#include <string>

// What sysfs (`sysfs`, normally "/sys") tells about the terminal device `name` ("ttyUSB0"),
// read from sysfs/class/tty/<name>: its device link, that device's bus and driver, and the
// attributes of the serial core and of USB.

// The kinds of serial port, in the order in which they get COM numbers: an adapter the user
// plugged in is far more likely to be the timer than a port built into the machine.
enum class TPortKind : std::uint8_t {
    usbAdapter,  // a USB serial converter: the usb-serial bus, or a vendor driver on a USB interface
    usbModem,    // a USB interface driven by cdc_acm
    builtInUart, // a UART of the machine or its SoC (8250, imx, tegra, samsung, ...) with a chip behind it
    amba,        // an ARM PL011 (ttyAMA), often wired to a Bluetooth chip or a console header
};

// The kind of port `name` is, or nothing when it is no port to open: a virtual terminal or
// pseudo-terminal (no device link), a Bluetooth link (rfcomm), a UART slot without a chip
// (type 0), or a device of no kind we know.
std::optional<TPortKind> ClassifyTty(const std::string& sysfs, const std::string& name);

// For the user, which physical device `name` is: "FTDI FT232R USB UART, serial A10K3XYZ" for
// a USB device (manufacturer, product and serial number as far as it reports them),
// "built-in serial port" for a UART of the machine; empty when sysfs knows no device.
std::string DescribeTty(const std::string& sysfs, const std::string& name);

// Which USB device `name` is and where it is plugged in, or nothing for a port not on USB.
std::optional<TUsbIdentity> UsbIdentityOf(const std::string& sysfs, const std::string& name);
