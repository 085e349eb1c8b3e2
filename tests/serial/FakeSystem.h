// SPDX-License-Identifier: MIT
// A sysfs tree, a /proc tree and a /dev folder of our own, laid out as Linux lays them out;
// nothing in them is a real device.
#pragma once

#include "PortNames.h"
#include "PseudoTerminal.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fake {

namespace fs = std::filesystem;

// How a terminal hangs in sysfs.
enum class Attach {
    virtualTty,   // no device link (virtual consoles, ptmx, ttyprintk)
    usbSerial,    // usb-serial bus port below a USB interface (ftdi_sio, cp210x, ch341 -> ttyUSB)
    usbInterface, // right on a USB interface (cdc_acm -> ttyACM, vendor drivers -> ttyCH343USB)
    serialCore,   // a serial-core UART with the serial-base bus between it and its controller
    legacyUart,   // a serial-core UART as kernels before 6.5 show it: right on its controller
    bluetooth,    // an rfcomm link on a Bluetooth adapter
};

struct Tty {
    std::string name;
    Attach attach = Attach::virtualTty;
    std::string driver = {};              // of the USB interface or the UART's controller
    std::string bus = "platform";         // of a UART's controller (pnp, platform, amba)
    std::optional<std::string> type = {}; // the serial core's UART type (no file when empty)
    std::string manufacturer = {};        // of the USB device, as it reports them
    std::string product = {};
    std::string serial = {};
    std::string ids = "0403:6001"; // idVendor:idProduct
    std::string usbPort = {};      // the USB device's place, "1-4.2" (a port of its own when empty)
};

inline Tty Virtual(const std::string& name) {
    return {name};
}
inline Tty UsbSerial(const std::string& name, const std::string& driver = "ftdi_sio") {
    return {name, Attach::usbSerial, driver};
}
// The same adapter, with its serial number, plugged into the USB port `usbPort`.
inline Tty PluggedInto(Tty entry, const std::string& usbPort, const std::string& serial) {
    entry.usbPort = usbPort;
    entry.serial = serial;
    return entry;
}
inline Tty OnUsbInterface(const std::string& name, const std::string& driver) {
    return {name, Attach::usbInterface, driver};
}
inline Tty Uart(const std::string& name, const std::string& type, const std::string& driver = "serial",
                const std::string& bus = "pnp") {
    return {name, Attach::serialCore, driver, bus, type};
}

// What a desktop's /sys/class/tty holds besides serial ports.
inline std::vector<Tty> With(std::vector<Tty> entries) {
    for (const char* name : {"console", "ptmx", "tty", "tty0", "tty1", "ttyprintk"}) {
        entries.push_back(Virtual(name));
    }
    return entries;
}

// One process of the fake /proc.
struct Process {
    int pid;
    std::string comm;
    std::vector<std::string> arguments;
    std::vector<std::string> descriptors; // targets of fd/0, fd/1, ...
};

class System {
public:
    explicit System(const std::vector<Tty>& entries = {}, const std::optional<std::string>& consoleActive = "tty0") {
        fs::create_directories(TtyClass());
        fs::create_directories(Dev());
        fs::create_directories(Proc());
        for (const auto& entry : entries) {
            Add(entry);
        }
        if (consoleActive && !fs::exists(TtyClass() / "console")) {
            Add(Virtual("console"));
        }
        if (consoleActive) {
            std::ofstream(Sys() / "devices" / "virtual" / "tty" / "console" / "active") << *consoleActive << "\n";
        }
    }

    void Add(const Tty& entry) {
        const fs::path tty = DeviceFolder(entry) / "tty" / entry.name;
        fs::create_directories(tty);
        fs::create_directory_symlink(fs::relative(tty, TtyClass()), TtyClass() / entry.name);
        if (entry.attach != Attach::virtualTty) {
            fs::create_directory_symlink(fs::relative(tty.parent_path().parent_path(), tty), tty / "device");
        }
        if (entry.type) {
            std::ofstream(tty / "type") << *entry.type << "\n";
        }
    }

    // The device goes, as when an adapter is pulled out, and with it its USB device.
    void Remove(const std::string& name) {
        fs::remove(TtyClass() / name);
        if (const auto found = hardware.find(name); found != hardware.end()) {
            fs::remove_all(found->second);
            hardware.erase(found);
        }
    }

    void AddProcess(const Process& process) {
        const fs::path folder = Proc() / std::to_string(process.pid);
        fs::create_directories(folder / "fd");
        std::ofstream(folder / "comm") << process.comm << "\n";
        std::ofstream cmdline(folder / "cmdline", std::ios::binary);
        for (const auto& argument : process.arguments) {
            cmdline << argument << '\0';
        }
        for (std::size_t fd = 0; fd < process.descriptors.size(); ++fd) {
            fs::create_symlink(process.descriptors[fd], folder / "fd" / std::to_string(fd));
        }
    }

    TPortRoots Roots() const {
        TPortRoots roots;
        roots.sysfs = Sys().string();
        roots.dev = Dev().string();
        roots.proc = Proc().string();
        roots.lockDir = (root.path / "lock").string();
        return roots;
    }
    fs::path Sys() const { return root.path / "sys"; }
    fs::path Dev() const { return root.path / "dev"; }
    fs::path Proc() const { return root.path / "proc"; }
    fs::path TtyClass() const { return Sys() / "class" / "tty"; }

    // The kernel names of the listed ports, in COM order.
    std::vector<std::string> ListedDevices() const {
        std::vector<std::string> names;
        for (const auto& port : ListSerialPorts(Roots())) {
            names.push_back(fs::path(port.devicePath).filename().string());
        }
        return names;
    }

private:
    // A device folder with its bus and driver links, below the folders it needs.
    fs::path Device(const fs::path& folder, const std::string& bus, const std::string& driver) {
        fs::create_directories(folder);
        fs::create_directories(Sys() / "bus" / bus / "drivers" / driver);
        fs::create_directory_symlink(fs::relative(Sys() / "bus" / bus, folder), folder / "subsystem");
        fs::create_directory_symlink(fs::relative(Sys() / "bus" / bus / "drivers" / driver, folder), folder / "driver");
        return folder;
    }

    fs::path UsbDevice(const Tty& entry) {
        const std::string place = entry.usbPort.empty() ? "1-" + std::to_string(++usbPorts) : entry.usbPort;
        const fs::path folder = Sys() / "devices" / "pci0000:00" / "usb1" / place;
        fs::create_directories(folder);
        hardware[entry.name] = folder;
        const auto colon = entry.ids.find(':');
        std::ofstream(folder / "idVendor") << entry.ids.substr(0, colon) << "\n";
        std::ofstream(folder / "idProduct") << entry.ids.substr(colon + 1) << "\n";
        for (const auto& [file, text] : {std::pair{"manufacturer", entry.manufacturer},
                                         std::pair{"product", entry.product}, std::pair{"serial", entry.serial}}) {
            if (!text.empty()) {
                std::ofstream(folder / file) << text << "\n";
            }
        }
        return Device(folder / (folder.filename().string() + ":1.0"), "usb", entry.driver);
    }

    fs::path DeviceFolder(const Tty& entry) {
        const std::string controller = "serial" + std::to_string(++controllers);
        switch (entry.attach) {
        case Attach::virtualTty:
            return Sys() / "devices" / "virtual";
        case Attach::usbSerial:
            return Device(UsbDevice(entry) / entry.name, "usb-serial", entry.driver);
        case Attach::usbInterface:
            return UsbDevice(entry);
        case Attach::serialCore: {
            const fs::path hardware = Device(Sys() / "devices" / entry.bus / controller, entry.bus, entry.driver);
            const fs::path ctrl = Device(hardware / (controller + ":0"), "serial-base", "ctrl");
            return Device(ctrl / (controller + ":0.0"), "serial-base", "port");
        }
        case Attach::legacyUart:
            return Device(Sys() / "devices" / entry.bus / controller, entry.bus, entry.driver);
        case Attach::bluetooth:
            return Device(Sys() / "devices" / "virtual" / "bluetooth" / ("hci" + std::to_string(controllers)),
                          "bluetooth", "hci");
        }
        return {};
    }

    TempDir root;
    int usbPorts = 0;
    int controllers = 0;
    std::map<std::string, fs::path> hardware; // the USB device of each USB tty
};

} // namespace fake
