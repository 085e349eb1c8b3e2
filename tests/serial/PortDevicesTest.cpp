// SPDX-License-Identifier: MIT
#include "PortDevices.h"

#include "FakeSystem.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace fake;

Tty Described(Tty tty, const std::string& manufacturer, const std::string& product, const std::string& serial,
              const std::string& ids = "0403:6001") {
    tty.manufacturer = manufacturer;
    tty.product = product;
    tty.serial = serial;
    tty.ids = ids;
    return tty;
}

TEST(PortDevicesTest, KindComesFromBusAndDriver) {
    const struct Row {
        Tty tty;
        std::optional<TPortKind> kind;
    } rows[] = {
        {UsbSerial("ttyUSB0", "ftdi_sio"), TPortKind::usbAdapter},
        {UsbSerial("ttyUSB1", "option"), TPortKind::usbAdapter},
        {OnUsbInterface("ttyACM0", "cdc_acm"), TPortKind::usbModem},
        {OnUsbInterface("ttyCH343USB0", "usb_ch343"), TPortKind::usbAdapter},
        {Uart("ttyS0", "4"), TPortKind::builtInUart},
        {Uart("ttyS1", "0"), std::nullopt},
        {{"ttyS2", Attach::serialCore, "serial"}, std::nullopt}, // no type at all
        {Uart("ttymxc0", "62", "imx-uart", "platform"), TPortKind::builtInUart},
        {Uart("ttyAMA0", "91", "uart-pl011", "amba"), TPortKind::amba},
        {{"ttyAMA1", Attach::legacyUart, "uart-pl011", "amba", "91"}, TPortKind::amba},
        {{"ttyS3", Attach::legacyUart, "serial8250", "platform", "4"}, TPortKind::builtInUart},
        {{"rfcomm0", Attach::bluetooth}, std::nullopt},
        {{"ttyBT0", Attach::bluetooth}, std::nullopt},
        {OnUsbInterface("rfcomm1", "btusb"), std::nullopt},
        {Virtual("tty0"), std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tty.name);
        const System system({row.tty});
        EXPECT_EQ(ClassifyTty(system.Sys().string(), row.tty.name), row.kind);
    }
    const System empty;
    for (const char* name : {"ttyUSB7", "", "..", "../tty0"}) {
        EXPECT_EQ(ClassifyTty(empty.Sys().string(), name), std::nullopt) << name;
    }
}

TEST(PortDevicesTest, DescriptionNamesTheUsbDevice) {
    const struct Row {
        Tty tty;
        std::string description;
    } rows[] = {
        {Described(UsbSerial("ttyUSB0"), "FTDI", "FT232R USB UART", "A10K3XYZ"),
         "FTDI FT232R USB UART, serial A10K3XYZ"},
        {Described(UsbSerial("ttyUSB1", "pl2303"), "Prolific Technology Inc.",
                   "Prolific Technology Inc. USB-Serial Controller", ""),
         "Prolific Technology Inc. USB-Serial Controller"},
        {Described(UsbSerial("ttyUSB2", "ch341"), "", "USB Serial", "", "1a86:7523"), "USB Serial"},
        {Described(UsbSerial("ttyUSB3", "ch341"), "", "", "", "1a86:7523"), "USB device 1a86:7523"},
        {Described(UsbSerial("ttyUSB4", "cp210x"), "Silicon Labs", "", "0001"), "Silicon Labs, serial 0001"},
        {Described(OnUsbInterface("ttyACM0", "cdc_acm"), "Arduino (www.arduino.cc)", "Uno", "8573"),
         "Arduino (www.arduino.cc) Uno, serial 8573"},
        {Described(UsbSerial("ttyUSB5"), "  Acme\t", "Cable\x1b[2J  ", ""), "Acme Cable[2J"},
        {Uart("ttyS0", "4"), "built-in serial port"},
        {Uart("ttyAMA0", "91", "uart-pl011", "amba"), "built-in serial port"},
        {Uart("ttyS1", "0"), ""},
        {Virtual("tty1"), ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tty.name);
        const System system({row.tty});
        EXPECT_EQ(DescribeTty(system.Sys().string(), row.tty.name), row.description);
    }
}

// What knows an adapter again after it was pulled: the USB device and the interface its tty
// hangs on, not the tty's own name.
TEST(PortDevicesTest, UsbIdentityIsTheDeviceAndWhereItIsPluggedIn) {
    const struct Row {
        Tty tty;
        std::optional<TUsbIdentity> identity;
    } rows[] = {
        {PluggedInto(UsbSerial("ttyUSB3"), "1-4.2", "A10K3XYZ"), TUsbIdentity{"0403", "6001", "A10K3XYZ", "1-4.2:1.0"}},
        {PluggedInto(Described(OnUsbInterface("ttyACM0", "cdc_acm"), "Arduino", "Uno", "", "2341:0043"), "3-1", ""),
         TUsbIdentity{"2341", "0043", "", "3-1:1.0"}},
        {Uart("ttyS0", "4"), std::nullopt},
        {Virtual("tty1"), std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tty.name);
        const System system({row.tty});
        EXPECT_EQ(UsbIdentityOf(system.Sys().string(), row.tty.name), row.identity);
    }
}

} // namespace
