// SPDX-License-Identifier: MIT
// The kernel's device events as recorded on the uevent socket of a Debian machine (a USB
// serial adapter plugged in and pulled out, a disk, the device manager's own message), and
// damaged ones.
#include "UeventMessage.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using namespace std::string_literals;

struct UeventRow {
    const char* name;
    std::string datagram;
    std::optional<TUeventMessage> parsed;
    bool changesPorts;
};

void PrintTo(const UeventRow& row, std::ostream* os) {
    *os << row.name;
}

const std::string usbTty = "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/ttyUSB0/tty/ttyUSB0";

class UeventTest : public ::testing::TestWithParam<UeventRow> {};

TEST_P(UeventTest, ParsesKernelMessagesOnly) {
    const UeventRow& row = GetParam();
    const auto parsed = ParseUevent(row.datagram);
    ASSERT_EQ(parsed.has_value(), row.parsed.has_value());
    if (!parsed)
        return;
    EXPECT_EQ(parsed->action, row.parsed->action);
    EXPECT_EQ(parsed->devPath, row.parsed->devPath);
    EXPECT_EQ(parsed->subsystem, row.parsed->subsystem);
    EXPECT_EQ(parsed->devName, row.parsed->devName);
    EXPECT_EQ(ChangesSerialPorts(*parsed), row.changesPorts);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UeventTest,
    ::testing::Values(
        UeventRow{"AdapterAdded",
                  "add@" + usbTty + "\0ACTION=add\0DEVPATH="s + usbTty +
                      "\0SUBSYSTEM=tty\0MAJOR=188\0MINOR=0\0DEVNAME=ttyUSB0\0SEQNUM=4711\0"s,
                  TUeventMessage{"add", usbTty, "tty", "ttyUSB0"}, true},
        UeventRow{"AdapterRemovedWithoutTrailingNul",
                  "remove@" + usbTty + "\0ACTION=remove\0DEVPATH="s + usbTty +
                      "\0SUBSYSTEM=tty\0MAJOR=188\0MINOR=0\0DEVNAME=ttyUSB0\0SEQNUM=4720"s,
                  TUeventMessage{"remove", usbTty, "tty", "ttyUSB0"}, true},
        UeventRow{"Renamed",
                  "move@/devices/virtual/tty/ttyX\0ACTION=move\0DEVPATH=/devices/virtual/tty/ttyX\0"
                  "SUBSYSTEM=tty\0DEVPATH_OLD=/devices/virtual/tty/ttyY\0"s,
                  TUeventMessage{"move", "/devices/virtual/tty/ttyX", "tty", ""}, true},
        UeventRow{"UsbInterfaceBound",
                  "bind@/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0\0ACTION=bind\0"
                  "DEVPATH=/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0\0SUBSYSTEM=usb\0DRIVER=ftdi_sio\0"s,
                  TUeventMessage{"bind", "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0", "usb", ""}, false},
        UeventRow{"TerminalChanged",
                  "change@/devices/virtual/tty/tty0\0ACTION=change\0DEVPATH=/devices/virtual/tty/tty0\0"
                  "SUBSYSTEM=tty\0DEVNAME=tty0\0"s,
                  TUeventMessage{"change", "/devices/virtual/tty/tty0", "tty", "tty0"}, false},
        UeventRow{"DiskAdded",
                  "add@/devices/virtual/block/loop0\0ACTION=add\0DEVPATH=/devices/virtual/block/loop0\0"
                  "SUBSYSTEM=block\0DEVNAME=loop0\0DEVTYPE=disk\0"s,
                  TUeventMessage{"add", "/devices/virtual/block/loop0", "block", "loop0"}, false},
        UeventRow{"DeviceManagerMessage", "libudev\0\xfe\xed\xca\xfe\0\0\0\0ACTION=add\0SUBSYSTEM=tty\0"s, std::nullopt,
                  false},
        UeventRow{"Empty", "", std::nullopt, false},
        UeventRow{"NoSummary", "ACTION=add\0DEVPATH=/devices/x\0SUBSYSTEM=tty\0"s, std::nullopt, false},
        UeventRow{"SummaryDisagrees", "add@/devices/a\0ACTION=remove\0DEVPATH=/devices/a\0SUBSYSTEM=tty\0"s,
                  std::nullopt, false},
        UeventRow{"PathDisagrees", "add@/devices/a\0ACTION=add\0DEVPATH=/devices/b\0SUBSYSTEM=tty\0"s, std::nullopt,
                  false},
        UeventRow{"NoSubsystem", "add@/devices/a\0ACTION=add\0DEVPATH=/devices/a\0"s, std::nullopt, false},
        UeventRow{"FieldWithoutValue", "add@/devices/a\0ACTION=add\0DEVPATH=/devices/a\0SUBSYSTEM\0"s, std::nullopt,
                  false},
        UeventRow{"CutShort", "add@/devices/a\0ACTION=add\0DEVPA"s, std::nullopt, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
