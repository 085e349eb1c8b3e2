// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Which ports the sixteen receiver threads listen on, on Windows. The system lists its serial
// ports in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, one value per port: the driver's device name
// ("\Device\Serial0", "\Device\VCP0", "\Device\BthModem2") holding the port's name ("COM1").
// Pure functions; the registry is read by SystemPortSlotNames (PortSlotsWin32.h).

inline constexpr std::size_t portSlotCount = 16;

struct TSerialCommEntry {
    std::string deviceName; // the value's name, "\Device\VCP0"
    std::string portName;   // its data, "COM23"
};

// A Bluetooth serial port: opening one dials the paired device and can block for many seconds,
// so it is never listened on.
bool IsBluetoothDevice(const std::string& deviceName);

// The names of the sixteen slots: the listed ports without the Bluetooth ones, "COMn" in
// ascending n (an adapter on COM23 is found, whatever is below it), then any other names in text
// order, each name once, the first sixteen; slots left over are empty (nothing to open). When
// the list could not be read (nullopt: the key is missing, as on a system without serial ports,
// or unreadable), "COM1".."COM16".
std::vector<std::string> PortSlotNames(const std::optional<std::vector<TSerialCommEntry>>& serialComm);

// The name CreateFileA is given for a port name: Windows finds "COM10" and above only in the
// device namespace ("\\.\COM10"), where every port is found, so every plain name goes there; a
// name that is a path already ("\\.\COM3") is kept.
std::string PortDevicePath(const std::string& portName);
