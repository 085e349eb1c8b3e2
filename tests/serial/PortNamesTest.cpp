// SPDX-License-Identifier: MIT
#include "PortNames.h"

#include "CommPort.h"
#include "FakeSystem.h"
#include "PortHolders.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>

namespace {

namespace fs = std::filesystem;
using namespace fake;

TEST(PortNamesTest, SystemPortsAreNumberedInTheirOrder) {
    const struct Row {
        const char* description;
        std::vector<Tty> entries;
        std::optional<std::string> consoleActive;
        std::vector<Process> processes;
        std::vector<std::string> expected;
    } rows[] = {
        {"no serial ports", With({}), "tty0", {}, {}},
        {"an empty tree", {}, std::nullopt, {}, {}},
        {"kinds in order, numbers in numeric order",
         With({Uart("ttyAMA0", "91", "uart-pl011", "amba"), Uart("ttyS2", "4"), OnUsbInterface("ttyACM0", "cdc_acm"),
               UsbSerial("ttyUSB10"), UsbSerial("ttyUSB2", "cp210x"), UsbSerial("ttyUSB0"), UsbSerial("ttyUSB1")}),
         "tty0",
         {},
         {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS2", "ttyAMA0"}},
        {"vendor drivers and SoC UARTs follow the usual names of their kind",
         With({OnUsbInterface("ttyCH343USB0", "usb_ch343"), OnUsbInterface("ttyXRUSB1", "cdc_xr_usb_serial"),
               UsbSerial("ttyUSB0"), Uart("ttymxc1", "62", "imx-uart", "platform"),
               Uart("ttyTHS2", "113", "serial-tegra", "platform"), Uart("ttySAC0", "80", "samsung-uart", "platform"),
               Uart("ttyS0", "4"), Uart("ttyAMA1", "91", "sbsa-uart", "platform"),
               OnUsbInterface("ttyACM2", "cdc_acm")}),
         "tty0",
         {},
         {"ttyUSB0", "ttyCH343USB0", "ttyXRUSB1", "ttyACM2", "ttyS0", "ttySAC0", "ttyTHS2", "ttymxc1", "ttyAMA1"}},
        {"a UART slot without a chip is no port",
         With({Uart("ttyS0", "0"),
               Uart("ttyS1", "4"),
               Uart("ttyS2", "0"),
               {"ttyS3", Attach::serialCore, "serial"},
               Uart("ttyS4", "16")}),
         "tty0",
         {},
         {"ttyS1", "ttyS4"}},
        {"UARTs as kernels before 6.5 show them",
         With({{"ttyS0", Attach::legacyUart, "serial8250", "platform", "4"},
               {"ttyS1", Attach::legacyUart, "serial8250", "platform", "0"},
               {"ttyAMA0", Attach::legacyUart, "uart-pl011", "amba", "91"}}),
         "tty0",
         {},
         {"ttyS0", "ttyAMA0"}},
        {"the active console is never a port",
         With({Uart("ttyS0", "4"), Uart("ttyS1", "4"), UsbSerial("ttyUSB0")}),
         "ttyS0",
         {},
         {"ttyUSB0", "ttyS1"}},
        {"every active console is left out",
         With({Uart("ttyS0", "4"), UsbSerial("ttyUSB0"), UsbSerial("ttyUSB1")}),
         "tty0 ttyUSB0 ttyS0",
         {},
         {"ttyUSB1"}},
        {"no console file",
         With({Uart("ttyS0", "4"), OnUsbInterface("ttyACM3", "cdc_acm")}),
         std::nullopt,
         {},
         {"ttyACM3", "ttyS0"}},
        {"Bluetooth links and devices of no known kind are no ports",
         With({{"rfcomm0", Attach::bluetooth},
               {"ttyBT0", Attach::bluetooth},
               Virtual("ttyUSB9"),
               Virtual("ttyS7"),
               {"ttyGS0", Attach::legacyUart, "g_serial", "udc"},
               OnUsbInterface("rfcomm1", "btusb"),
               OnUsbInterface("ttyACM1", "cdc_acm")}),
         "tty0",
         {},
         {"ttyACM1"}},
        {"a terminal that a login program serves is no port",
         With({Uart("ttyS0", "4"), Uart("ttyS1", "4"), Uart("ttyS2", "4"), Uart("ttyS3", "4"), UsbSerial("ttyUSB0"),
               UsbSerial("ttyUSB1")}),
         "tty0",
         {{100, "agetty", {"/sbin/agetty", "-o", "-p -- \\u", "--keep-baud", "115200,57600", "ttyS1", "vt220"}, {}},
          {101, "getty", {"/sbin/getty", "-L", "/dev/ttyUSB1", "9600"}, {}},
          {102, "agetty", {"/sbin/agetty", "-", "vt100"}, {"/dev/ttyS3"}},
          {103, "minicom", {"minicom", "-D", "/dev/ttyS2"}, {"/dev/ttyS2"}},
          {104, "bash", {"-bash"}, {"/dev/pts/0"}}},
         {"ttyUSB0", "ttyS0", "ttyS2"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        System system(row.entries, row.consoleActive);
        for (const auto& process : row.processes) {
            system.AddProcess(process);
        }
        EXPECT_EQ(system.ListedDevices(), row.expected);
    }
}

TEST(PortNamesTest, NamesResolveToTheListedDevices) {
    const System system(With({Uart("ttyS0", "4"), Uart("ttyS1", "4"), OnUsbInterface("ttyACM0", "cdc_acm"),
                              UsbSerial("ttyUSB1"), UsbSerial("ttyUSB0")}),
                        "ttyS0");
    const std::string dev = system.Dev().string();
    const struct Row {
        std::string name;
        std::string expected;
    } rows[] = {
        {"COM1", dev + "/ttyUSB0"},
        {"COM2", dev + "/ttyUSB1"},
        {"COM3", dev + "/ttyACM0"},
        {"COM4", dev + "/ttyS1"},
        {"COM5", ""},
        {"COM16", ""},
        {"/dev/ttyS9", "/dev/ttyS9"}, // a path is used as it stands
        {"COM0", ""},
        {"COM01", ""},
        {"com1", ""},
        {"COM", ""},
        {"COM1 ", ""},
        {"COM-1", ""},
        {"COM4294967297", ""},
        {"", ""},
        {"ttyUSB0", ""},
    };
    const auto listed = ListSerialPorts(system.Roots());
    TPortList kept(std::chrono::hours(1));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ResolvePortName(row.name, system.Roots()), row.expected);
        EXPECT_EQ(kept.Resolve(row.name, system.Roots()), row.expected) << "from the kept list";
    }
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].portName, "COM" + std::to_string(i + 1));
    }
}

TEST(PortNamesTest, AnAdapterPluggedInLaterIsFoundAtTheNextResolution) {
    System system(With({Uart("ttyS4", "4")}));
    EXPECT_EQ(ResolvePortName("COM1", system.Roots()), (system.Dev() / "ttyS4").string());
    EXPECT_EQ(ResolvePortName("COM2", system.Roots()), "");

    system.Add(UsbSerial("ttyUSB0"));
    EXPECT_EQ(ResolvePortName("COM1", system.Roots()), (system.Dev() / "ttyS4").string()) << "kept its number";
    EXPECT_EQ(ResolvePortName("COM2", system.Roots()), (system.Dev() / "ttyUSB0").string());
}

// Listening resolves sixteen names in a row; the kept list is walked once for them, and
// again only when refreshed, when too old, or when asked about another system (whose
// numbering starts over).
TEST(PortNamesTest, KeptListChangesOnlyWhenRefreshedOrTooOld) {
    const struct Row {
        const char* description;
        std::chrono::milliseconds lifetime;
        bool refresh;
        bool otherRoots;
        std::string com1;
        std::string com2;
    } rows[] = {
        {"kept between resolutions", std::chrono::hours(1), false, false, "ttyS4", ""},
        {"refreshed", std::chrono::hours(1), true, false, "ttyS4", "ttyUSB0"},
        {"too old", std::chrono::milliseconds(-1), false, false, "ttyS4", "ttyUSB0"},
        {"asked about another system", std::chrono::hours(1), false, true, "ttyUSB0", "ttyS4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        System system(With({Uart("ttyS4", "4")}));
        TPortList kept(row.lifetime);
        TPortRoots roots = system.Roots();
        ASSERT_EQ(kept.Resolve("COM1", roots), (system.Dev() / "ttyS4").string());

        system.Add(UsbSerial("ttyUSB0"));
        if (row.refresh) {
            kept.Refresh(roots);
        }
        if (row.otherRoots) {
            kept.Resolve("COM1", System().Roots());
        }
        const auto device = [&](const std::string& name) {
            return name.empty() ? name : (system.Dev() / name).string();
        };
        EXPECT_EQ(kept.Resolve("COM1", roots), device(row.com1));
        EXPECT_EQ(kept.Resolve("COM2", roots), device(row.com2));
    }
}

// A desktop with a built-in port beside the timer's adapter: pulling the adapter must not move
// COM1 onto the built-in port (which COM2 holds), and the adapter must come back as COM1.
TEST(PortNamesTest, PulledAdapterKeepsItsNumberUntilItComesBack) {
    const Tty adapter = PluggedInto(UsbSerial("ttyUSB0"), "1-4", "A10K3XYZ");
    const struct Row {
        const char* description;
        Tty back;
    } rows[] = {
        {"back under its old name", adapter},
        {"back under another name", PluggedInto(UsbSerial("ttyUSB1"), "1-4", "A10K3XYZ")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        System system(With({adapter, Uart("ttyS0", "4")}));
        const TPortRoots roots = system.Roots();
        const auto dev = [&](const std::string& name) { return (system.Dev() / name).string(); };
        TPortList& kept = SystemPortList();
        kept.Refresh(roots);
        EXPECT_EQ(kept.Resolve("COM1", roots), dev("ttyUSB0"));
        EXPECT_EQ(kept.Resolve("COM2", roots), dev("ttyS0"));

        system.Remove("ttyUSB0");
        kept.Refresh(roots);
        EXPECT_EQ(kept.Resolve("COM1", roots), "") << "pulled";
        EXPECT_EQ(kept.Resolve("COM2", roots), dev("ttyS0"));

        system.Add(PluggedInto(OnUsbInterface("ttyACM0", "cdc_acm"), "1-5", "8573"));
        kept.Refresh(roots);
        EXPECT_EQ(kept.Resolve("COM1", roots), "") << "not given to the new adapter";
        EXPECT_EQ(kept.Resolve("COM3", roots), dev("ttyACM0"));

        system.Add(row.back);
        kept.Refresh(roots);
        EXPECT_EQ(kept.Resolve("COM1", roots), dev(row.back.name));
        EXPECT_EQ(kept.Resolve("COM2", roots), dev("ttyS0"));
        EXPECT_EQ(kept.Resolve("COM3", roots), dev("ttyACM0"));

        std::vector<std::pair<std::string, std::string>> listed;
        for (const auto& port : ListSerialPorts(roots)) {
            listed.emplace_back(port.portName, fs::path(port.devicePath).filename().string());
        }
        EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{
                              {"COM1", row.back.name}, {"COM2", "ttyS0"}, {"COM3", "ttyACM0"}}))
            << "listed as the kept list numbers them";
    }
}

TEST(PortNamesTest, PortFolderReplacesTheSystemsPorts) {
    const System system(With({UsbSerial("ttyUSB0"), Uart("ttyS1", "4")}));
    TempDir folder;
    for (const char* name : {"COM1", "COM2", "COM10", "COMx", "COM02", "notes.txt"}) {
        std::ofstream(folder.path / name) << "";
    }
    fs::create_symlink(folder.path / "gone", folder.path / "COM4");
    TPortRoots roots = system.Roots();
    roots.portDir = folder.path.string();

    const struct Row {
        std::string name;
        std::string expected;
    } rows[] = {
        {"COM1", (folder.path / "COM1").string()},
        {"COM3", (folder.path / "COM3").string()}, // missing: the open says so
        {"COM16", (folder.path / "COM16").string()},
        {"/dev/ttyS9", "/dev/ttyS9"},
        {"COM1/../notes.txt", ""},
        {"../COM1", ""},
        {"COM02", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ResolvePortName(row.name, roots), row.expected);
    }

    std::vector<std::string> listed;
    for (const auto& port : ListSerialPorts(roots)) {
        EXPECT_EQ(port.devicePath, (folder.path / port.portName).string());
        listed.push_back(port.portName);
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"COM1", "COM2", "COM10"}));
}

TEST(PortNamesTest, EnvironmentChoosesThePortAndLockFolders) {
    const struct Row {
        const char* variable;
        std::optional<std::string> value;
        std::string TPortRoots::*field;
        std::string expected;
    } rows[] = {
        {"TAVRO_PORT_DIR", std::nullopt, &TPortRoots::portDir, ""},
        {"TAVRO_PORT_DIR", "", &TPortRoots::portDir, ""},
        {"TAVRO_PORT_DIR", "/tmp/ports", &TPortRoots::portDir, "/tmp/ports"},
        {"TAVRO_LOCK_DIR", std::nullopt, &TPortRoots::lockDir, "/run/lock"},
        {"TAVRO_LOCK_DIR", "", &TPortRoots::lockDir, "/run/lock"},
        {"TAVRO_LOCK_DIR", "/tmp/locks", &TPortRoots::lockDir, "/tmp/locks"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.variable << "=" << row.value.value_or("(unset)"));
        const char* saved = std::getenv(row.variable);
        const std::optional<std::string> before = saved ? std::optional<std::string>(saved) : std::nullopt;
        if (row.value) {
            setenv(row.variable, row.value->c_str(), 1);
        } else {
            unsetenv(row.variable);
        }
        const TPortRoots roots = SystemPortRoots();
        EXPECT_EQ(roots.*row.field, row.expected);
        EXPECT_EQ(roots.sysfs, "/sys");
        EXPECT_EQ(roots.dev, "/dev");
        EXPECT_EQ(roots.proc, "/proc");
        if (before) {
            setenv(row.variable, before->c_str(), 1);
        } else {
            unsetenv(row.variable);
        }
    }
}

TEST(PortNamesTest, UnopenablePortsAreExplainedOnePerLine) {
    TestPortDir folder;
    EXPECT_EQ(DescribeUnopenablePorts(SystemPortRoots()), "No serial ports were found.");

    const PseudoTerminal held(folder.path, 1);
    std::ofstream(folder.path / "COM2") << "";
    const PseudoTerminal free(folder.path, 3);
    const PseudoTerminal beyond(folder.path, 17);
    std::ofstream(folder.path / "COM18") << "";
    std::ofstream(folder.lockDir.path / "file") << "";
    const std::string com1 = (folder.path / "COM1").string();
    const std::string com2 = (folder.path / "COM2").string();
    const std::string self = "in use by " + ProcessName("/proc", getpid()) + " (PID " + std::to_string(getpid()) + ")";

    const struct Row {
        const char* description;
        std::string lockDir;
        std::string com1Reason;
    } rows[] = {
        // Our own lock file names the holder.
        {"held by another port of this program", folder.lockDir.path.string(), self},
        // Only the exclusive flags say the port is taken.
        {"held where no lock file can be taken", (folder.lockDir.path / "file" / "locks").string(),
         "in use by another program"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        setenv("TAVRO_LOCK_DIR", row.lockDir.c_str(), 1);
        TCommPort holder;
        holder.OpenCommPort();
        EXPECT_EQ(DescribeUnopenablePorts(SystemPortRoots(), 16),
                  "COM1 (" + com1 + "): " + row.com1Reason + "\nCOM2 (" + com2 + "): not a serial port");
        EXPECT_TRUE(holder.IsOpen());
        EXPECT_EQ(DescribeUnopenablePorts(SystemPortRoots(), 1), "COM1 (" + com1 + "): " + row.com1Reason);
    }
}

TEST(PortNamesTest, NoSystemPortsAreReportedAsSuch) {
    const System system(With({Uart("ttyS0", "4"), Uart("ttyS1", "0")}), "ttyS0");
    EXPECT_EQ(DescribeUnopenablePorts(system.Roots()), "No serial ports were found.");
}

} // namespace
