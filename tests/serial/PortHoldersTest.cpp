// SPDX-License-Identifier: MIT
#include "PortHolders.h"

#include "FakeSystem.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace {

namespace fs = std::filesystem;
using namespace fake;

constexpr pid_t self = 4000;

TEST(PortHoldersTest, HolderOfADeviceIsFoundInProc) {
    const struct Row {
        const char* description;
        std::vector<Process> processes;
        std::optional<TProcessInfo> holder;
    } rows[] = {
        {"nobody", {{10, "bash", {"bash"}, {"/dev/pts/1", "/dev/pts/1", "/dev/pts/1"}}}, std::nullopt},
        {"another program",
         {{10, "bash", {"bash"}, {"/dev/pts/1"}}, {4711, "minicom", {"minicom"}, {"/dev/pts/1", "/dev/ttyUSB0"}}},
         TProcessInfo{4711, "minicom"}},
        {"only this process", {{self, "tavro", {"tavro"}, {"/dev/ttyUSB0"}}}, std::nullopt},
        {"another device with a longer name", {{20, "gpsd", {"gpsd"}, {"/dev/ttyUSB01", "/dev/ttyUSB"}}}, std::nullopt},
        {"a process without a name", {{21, "", {}, {"/dev/ttyUSB0"}}}, TProcessInfo{21, ""}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        System system;
        for (const auto& process : row.processes) {
            system.AddProcess(process);
        }
        const auto holder = FindDeviceHolder(system.Proc().string(), "/dev/ttyUSB0", self);
        ASSERT_EQ(holder.has_value(), row.holder.has_value());
        if (holder) {
            EXPECT_EQ(holder->pid, row.holder->pid);
            EXPECT_EQ(holder->name, row.holder->name);
        }
    }
}

// What /proc holds besides readable process folders must neither stop the search nor match.
TEST(PortHoldersTest, OddEntriesArePassedOver) {
    System system;
    const fs::path proc = system.Proc();
    // "self" is a link to our own folder in the real /proc; other names are not processes.
    for (const char* name : {"self", "thread-self", "net", "12x"}) {
        fs::create_directories(proc / name / "fd");
        fs::create_symlink("/dev/ttyUSB0", proc / name / "fd" / "0");
    }
    fs::create_directories(proc / "30");
    std::ofstream(proc / "30" / "fd") << ""; // a process that ended: no fd folder
    fs::create_directories(proc / "31" / "fd");
    std::ofstream(proc / "31" / "fd" / "0") << "/dev/ttyUSB0"; // not a link
    EXPECT_FALSE(FindDeviceHolder(proc.string(), "/dev/ttyUSB0", self).has_value());

    system.AddProcess({32, "picocom", {"picocom"}, {"/dev/ttyUSB0"}});
    const auto holder = FindDeviceHolder(proc.string(), "/dev/ttyUSB0", self);
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->pid, 32);
    EXPECT_EQ(holder->name, "picocom");
    EXPECT_FALSE(FindDeviceHolder((proc / "missing").string(), "/dev/ttyUSB0", self).has_value());
    EXPECT_EQ(ProcessName(proc.string(), 32), "picocom");
    EXPECT_EQ(ProcessName(proc.string(), 33), "");
}

TEST(PortHoldersTest, TerminalsServedByLoginPrograms) {
    System system;
    for (const Process& process : std::vector<Process>{
             {100, "agetty", {"/sbin/agetty", "-o", "-p -- \\u", "--keep-baud", "115200,38400", "ttyS0", "vt220"}, {}},
             {101, "mgetty", {"/usr/sbin/mgetty", "/dev/ttyACM0"}, {}},
             {102, "agetty", {"/sbin/agetty", "-", "linux"}, {"/dev/ttyUSB2"}},
             {103, "minicom", {"minicom", "-D", "/dev/ttyS1"}, {"/dev/ttyS1"}},
             {104, "getty", {}, {}}, // a zombie: empty command line
         }) {
        system.AddProcess(process);
    }
    const std::set<std::string> served = GettyTerminals(system.Proc().string());
    for (const char* name : {"ttyS0", "ttyACM0", "ttyUSB2"}) {
        EXPECT_TRUE(served.contains(name)) << name;
    }
    EXPECT_FALSE(served.contains("ttyS1")) << "minicom is no login program";
}

} // namespace
