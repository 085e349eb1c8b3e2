// SPDX-License-Identifier: MIT
#include "PortDevices.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace fs = std::filesystem;

namespace {

// Since Linux 6.5 the serial core puts a controller and a port device of its own bus between
// a UART's tty and the hardware; the bus and driver that tell the kind sit above them.
constexpr std::string_view serialBase = "serial-base";
constexpr int serialBaseLevels = 3;
// From a USB tty to its USB device: port, interface, device; a few more for hubs of
// vendor drivers that add a level of their own.
constexpr int usbDeviceLevels = 6;
constexpr std::size_t attributeBytes = 128;
constexpr std::array<std::string_view, 2> pl011Drivers = {"uart-pl011", "sbsa-uart"};

// The first line of a sysfs attribute, without surrounding blanks and control characters (a
// USB device chooses its own strings).
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    std::string clean;
    for (const char c : line.substr(0, attributeBytes)) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            clean += c;
        }
    }
    const auto first = clean.find_first_not_of(' ');
    const auto last = clean.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : clean.substr(first, last - first + 1);
}

// The name a link points to, such as the bus of "subsystem" or the driver of "driver".
std::string LinkName(const fs::path& link) {
    std::error_code error;
    return fs::read_symlink(link, error).filename().string();
}

fs::path TtyEntry(const std::string& sysfs, const std::string& name) {
    return fs::path(sysfs) / "class" / "tty" / name;
}

// The device behind a tty, or an empty path for a virtual one.
fs::path DeviceOf(const std::string& sysfs, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return {};
    }
    std::error_code error;
    fs::path device = fs::canonical(TtyEntry(sysfs, name) / "device", error);
    if (error) {
        return {};
    }
    for (int level = 0; level < serialBaseLevels && LinkName(device / "subsystem") == serialBase; ++level) {
        device = device.parent_path();
    }
    return device;
}

// The USB device a tty belongs to and the folder right below it on the way to the tty (its
// interface), or empty paths for a tty not on USB.
struct UsbPlace {
    fs::path device;
    fs::path interface;
};

UsbPlace UsbPlaceOf(const std::string& sysfs, const std::string& name) {
    fs::path device = DeviceOf(sysfs, name);
    fs::path below;
    for (int level = 0; level < usbDeviceLevels && !device.empty() && device.has_relative_path(); ++level) {
        std::error_code error;
        if (fs::exists(device / "idVendor", error)) {
            return {device, below};
        }
        below = device;
        device = device.parent_path();
    }
    return {};
}

} // namespace

std::optional<TPortKind> ClassifyTty(const std::string& sysfs, const std::string& name) {
    // Opening a Bluetooth serial link dials the paired device.
    if (name.starts_with("rfcomm")) {
        return std::nullopt;
    }
    const fs::path device = DeviceOf(sysfs, name);
    if (device.empty()) {
        return std::nullopt;
    }
    const std::string bus = LinkName(device / "subsystem");
    const std::string driver = LinkName(device / "driver");
    if (bus == "usb-serial") {
        return TPortKind::usbAdapter;
    }
    if (bus == "usb") {
        return driver == "cdc_acm" ? TPortKind::usbModem : TPortKind::usbAdapter;
    }
    if (bus == "bluetooth") {
        return std::nullopt;
    }
    // Only serial-core ports have a UART type; 0 (unknown) is a slot the 8250 driver
    // registers whether or not a chip answers there.
    const std::string type = Attribute(TtyEntry(sysfs, name) / "type");
    if (type.empty() || type == "0") {
        return std::nullopt;
    }
    for (const std::string_view pl011 : pl011Drivers) {
        if (driver == pl011) {
            return TPortKind::amba;
        }
    }
    return bus == "amba" ? TPortKind::amba : TPortKind::builtInUart;
}

std::string DescribeTty(const std::string& sysfs, const std::string& name) {
    const UsbPlace usb = UsbPlaceOf(sysfs, name);
    if (!usb.device.empty()) {
        const std::string manufacturer = Attribute(usb.device / "manufacturer");
        const std::string product = Attribute(usb.device / "product");
        std::string text = product;
        if (!manufacturer.empty() && !product.starts_with(manufacturer)) {
            text = product.empty() ? manufacturer : manufacturer + " " + product;
        }
        if (text.empty()) {
            text = "USB device " + Attribute(usb.device / "idVendor") + ":" + Attribute(usb.device / "idProduct");
        }
        if (const std::string serial = Attribute(usb.device / "serial"); !serial.empty()) {
            text += ", serial " + serial;
        }
        return text;
    }
    const auto kind = ClassifyTty(sysfs, name);
    return kind == TPortKind::builtInUart || kind == TPortKind::amba ? "built-in serial port" : std::string();
}

// The interface tells apart the ports of one adapter with several (FT2232, CP2105), which
// share the USB device and its serial number.
std::optional<TUsbIdentity> UsbIdentityOf(const std::string& sysfs, const std::string& name) {
    const UsbPlace usb = UsbPlaceOf(sysfs, name);
    if (usb.device.empty()) {
        return std::nullopt;
    }
    const std::string device = usb.device.filename().string();
    const std::string interface = usb.interface.filename().string();
    return TUsbIdentity{Attribute(usb.device / "idVendor"), Attribute(usb.device / "idProduct"),
                        Attribute(usb.device / "serial"), interface.starts_with(device + ":") ? interface : device};
}
