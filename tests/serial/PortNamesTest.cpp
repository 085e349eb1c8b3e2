// SPDX-License-Identifier: MIT
#include "PortNames.h"

#include "CommPort.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>

namespace {

namespace fs = std::filesystem;

// One entry of /sys/class/tty: its name and, for a ttyS, the UART type the kernel reports
// (nothing: no type file).
struct TtyEntry {
    std::string name;
    std::optional<std::string> type = std::nullopt;
};

// A sysfs tree and a /dev folder of our own; nothing in them is a real device.
class FakeSystem {
public:
    FakeSystem(const std::vector<TtyEntry>& entries, const std::optional<std::string>& consoleActive) {
        for (const auto& entry : entries) {
            Add(entry);
        }
        if (consoleActive) {
            fs::create_directories(TtyClass() / "console");
            std::ofstream(TtyClass() / "console" / "active") << *consoleActive << "\n";
        }
        fs::create_directories(Dev());
    }
    void Add(const TtyEntry& entry) {
        fs::create_directories(TtyClass() / entry.name);
        if (entry.type) {
            std::ofstream(TtyClass() / entry.name / "type") << *entry.type << "\n";
        }
    }
    TPortRoots Roots() const { return {(root.path / "sys").string(), Dev().string(), ""}; }
    fs::path Dev() const { return root.path / "dev"; }
    std::vector<std::string> ListedDevices() const {
        std::vector<std::string> names;
        for (const auto& port : ListSerialPorts(Roots())) {
            names.push_back(fs::path(port.devicePath).filename().string());
        }
        return names;
    }

private:
    fs::path TtyClass() const { return root.path / "sys" / "class" / "tty"; }
    TempDir root;
};

// What a desktop's /sys/class/tty holds besides serial ports.
const std::vector<TtyEntry> virtualTerminals = {{"console"}, {"ptmx"}, {"tty"}, {"tty0"}, {"tty1"}, {"ttyprintk"}};

std::vector<TtyEntry> With(std::vector<TtyEntry> entries) {
    entries.insert(entries.end(), virtualTerminals.begin(), virtualTerminals.end());
    return entries;
}

TEST(PortNamesTest, SystemPortsAreNumberedInTheirOrder) {
    const struct Row {
        const char* description;
        std::vector<TtyEntry> entries;
        std::optional<std::string> consoleActive;
        std::vector<std::string> expected;
    } rows[] = {
        {"no serial ports", With({}), "tty0", {}},
        {"an empty tree", {}, std::nullopt, {}},
        {"groups in order, numbers in numeric order",
         With({{"rfcomm0"},
               {"ttyAMA0"},
               {"ttyS2", "4"},
               {"ttyACM0"},
               {"ttyUSB10"},
               {"ttyUSB2"},
               {"ttyUSB0"},
               {"ttyUSB1"}}),
         "tty0",
         {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS2", "ttyAMA0", "rfcomm0"}},
        {"a ttyS without a UART is no port",
         With({{"ttyS0", "0"}, {"ttyS1", "4"}, {"ttyS2", "0"}, {"ttyS3"}, {"ttyS4", "16"}}),
         "tty0",
         {"ttyS1", "ttyS4"}},
        {"the active console is never a port",
         With({{"ttyS0", "4"}, {"ttyS1", "4"}, {"ttyUSB0"}}),
         "ttyS0",
         {"ttyUSB0", "ttyS1"}},
        {"every active console is left out",
         With({{"ttyS0", "4"}, {"ttyUSB0"}, {"ttyUSB1"}}),
         "tty0 ttyUSB0 ttyS0",
         {"ttyUSB1"}},
        {"no console file", With({{"ttyS0", "4"}, {"ttyACM3"}}), std::nullopt, {"ttyACM3", "ttyS0"}},
        {"look-alike names are not ports",
         With({{"ttyUSB"}, {"ttyUSBx1"}, {"ttyS0x", "4"}, {"ttySAC0"}, {"rfcomm"}, {"ttyACM1"}}),
         "tty0",
         {"ttyACM1"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        const FakeSystem system(row.entries, row.consoleActive);
        EXPECT_EQ(system.ListedDevices(), row.expected);
    }
}

TEST(PortNamesTest, NamesResolveToTheListedDevices) {
    const FakeSystem system(With({{"ttyS0", "4"}, {"ttyS1", "4"}, {"ttyACM0"}, {"ttyUSB1"}, {"ttyUSB0"}}), "ttyS0");
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
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ResolvePortName(row.name, system.Roots()), row.expected);
    }
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].portName, "COM" + std::to_string(i + 1));
    }
}

TEST(PortNamesTest, AnAdapterPluggedInLaterIsFoundAtTheNextResolution) {
    FakeSystem system(With({{"ttyS4", "4"}}), "tty0");
    EXPECT_EQ(ResolvePortName("COM1", system.Roots()), (system.Dev() / "ttyS4").string());
    EXPECT_EQ(ResolvePortName("COM2", system.Roots()), "");

    system.Add({"ttyUSB0"});
    EXPECT_EQ(ResolvePortName("COM1", system.Roots()), (system.Dev() / "ttyUSB0").string());
    EXPECT_EQ(ResolvePortName("COM2", system.Roots()), (system.Dev() / "ttyS4").string());
}

TEST(PortNamesTest, PortFolderReplacesTheSystemsPorts) {
    const FakeSystem system(With({{"ttyUSB0"}, {"ttyS1", "4"}}), "tty0");
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

TEST(PortNamesTest, EnvironmentChoosesThePortFolder) {
    const struct Row {
        std::optional<std::string> value;
        std::string portDir;
    } rows[] = {
        {std::nullopt, ""},
        {"", ""},
        {"/tmp/ports", "/tmp/ports"},
    };
    const char* saved = std::getenv("TAVRO_PORT_DIR");
    const std::optional<std::string> before = saved ? std::optional<std::string>(saved) : std::nullopt;
    for (const auto& row : rows) {
        if (row.value) {
            setenv("TAVRO_PORT_DIR", row.value->c_str(), 1);
        } else {
            unsetenv("TAVRO_PORT_DIR");
        }
        const TPortRoots roots = SystemPortRoots();
        EXPECT_EQ(roots.portDir, row.portDir);
        EXPECT_EQ(roots.sysfs, "/sys");
        EXPECT_EQ(roots.dev, "/dev");
    }
    if (before) {
        setenv("TAVRO_PORT_DIR", before->c_str(), 1);
    } else {
        unsetenv("TAVRO_PORT_DIR");
    }
}

TEST(PortNamesTest, UnopenablePortsAreExplainedOnePerLine) {
    TestPortDir folder;
    TPortRoots roots;
    roots.portDir = folder.path.string();
    EXPECT_EQ(DescribeUnopenablePorts(roots), "No serial ports were found.");

    const PseudoTerminal held(folder.path, 1);
    TCommPort holder;
    holder.OpenCommPort();
    std::ofstream(folder.path / "COM2") << "";
    const PseudoTerminal free(folder.path, 3);
    const PseudoTerminal beyond(folder.path, 17);
    std::ofstream(folder.path / "COM18") << "";

    const std::string com1 = (folder.path / "COM1").string();
    const std::string com2 = (folder.path / "COM2").string();
    EXPECT_EQ(DescribeUnopenablePorts(roots, 16),
              "COM1 (" + com1 + "): in use by another program\nCOM2 (" + com2 + "): not a serial port");
    EXPECT_TRUE(holder.IsOpen());
    EXPECT_EQ(DescribeUnopenablePorts(roots, 1), "COM1 (" + com1 + "): in use by another program");
}

TEST(PortNamesTest, NoSystemPortsAreReportedAsSuch) {
    const FakeSystem system(With({{"ttyS0", "4"}, {"ttyS1", "0"}}), "ttyS0");
    EXPECT_EQ(DescribeUnopenablePorts(system.Roots()), "No serial ports were found.");
}

} // namespace
