// SPDX-License-Identifier: MIT
// The simulator's pseudo-terminal ports seen from the program's side of the links.
#include "Ports.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using sim::Bytes;
using namespace std::chrono_literals;

constexpr auto deadline = 5s;

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("tavro-sim-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    return dir;
}

// The program's end: the port opened through its link, as the serial library does.
struct ProgramSide {
    explicit ProgramSide(const fs::path& link) : fd(::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~ProgramSide() {
        if (fd >= 0)
            ::close(fd);
    }
    // Reads until `count` bytes came or the deadline passed.
    Bytes Read(std::size_t count) const {
        Bytes got;
        const auto until = std::chrono::steady_clock::now() + deadline;
        while (got.size() < count && std::chrono::steady_clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
                continue;
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    void Write(const Bytes& bytes) const { ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    int fd;
};

TEST(SimPorts, LinksLeadToRawLinesThatDoNotEcho) {
    const fs::path dir = freshDir("raw");
    std::ostringstream out;
    sim::Log log(out);
    {
        sim::PtyPorts ports(dir, 3);
        ASSERT_EQ(ports.Ports().size(), 3u);
        for (const char* name : {"COM1", "COM2", "COM3"}) {
            ASSERT_TRUE(fs::is_symlink(dir / name)) << name;
            EXPECT_TRUE(fs::read_symlink(dir / name).string().starts_with("/dev/pts/")) << name;
        }
        const auto line = sim::MakePtyLine(ports, 1, log);
        EXPECT_EQ(line->Name(), "COM2");
        ProgramSide program(dir / "COM2");
        ASSERT_GE(program.fd, 0);

        Bytes every(256);
        for (std::size_t i = 0; i < every.size(); ++i)
            every[i] = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(line->Write(every));
        EXPECT_EQ(program.Read(every.size()), every);            // no CR/LF mapping, no special characters
        EXPECT_FALSE(line->ReadByte(sim::Clock::now() + 100ms)); // nothing echoed back

        program.Write({0xFA, 0xF0});
        EXPECT_EQ(line->ReadByte(sim::Clock::now() + deadline), 0xFA);
        EXPECT_EQ(line->ReadByte(sim::Clock::now() + deadline), 0xF0);
    }
    EXPECT_FALSE(fs::exists(dir)) << "the folder it made must go";
}

TEST(SimPorts, LineWorksBeforeAndAfterTheProgramHasThePortOpen) {
    const fs::path dir = freshDir("idle");
    std::ostringstream out;
    sim::Log log(out);
    sim::PtyPorts ports(dir, 1);
    const auto line = sim::MakePtyLine(ports, 0, log);
    // No program yet: waiting must neither fail nor see anything.
    EXPECT_FALSE(line->ReadByte(sim::Clock::now() + 50ms));
    ASSERT_TRUE(line->Write({0xAB, 0xC0}));
    {
        ProgramSide program(dir / "COM1");
        EXPECT_EQ(program.Read(2), (Bytes{0xAB, 0xC0}));
    }
    // The program closed the port again.
    EXPECT_FALSE(line->ReadByte(sim::Clock::now() + 50ms));
    ProgramSide again(dir / "COM1");
    ASSERT_TRUE(line->Write({0x01}));
    EXPECT_EQ(again.Read(1), Bytes{0x01});
}

TEST(SimPorts, UnplugFailsTheProgramsPortAndReplugPublishesANewOne) {
    const fs::path dir = freshDir("unplug");
    std::ostringstream out;
    sim::Log log(out);
    sim::PtyPorts ports(dir, 2);
    const auto line = sim::MakePtyLine(ports, 1, log);
    ProgramSide program(dir / "COM2");
    ASSERT_GE(program.fd, 0);
    const std::string before = fs::read_symlink(dir / "COM2").string();

    line->Unplug();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "COM2")));
    pollfd p{program.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    std::uint8_t byte = 0;
    EXPECT_EQ(::write(program.fd, &byte, 1), -1);
    EXPECT_EQ(errno, EIO);

    const std::string device = line->Replug();
    EXPECT_EQ(fs::read_symlink(dir / "COM2").string(), device);
    ProgramSide replugged(dir / "COM2");
    ASSERT_TRUE(line->Write({0x42}));
    EXPECT_EQ(replugged.Read(1), Bytes{0x42});
    EXPECT_TRUE(fs::is_symlink(dir / "COM1")) << "the other ports stay";
    EXPECT_NE(before, "");
}

TEST(SimPorts, BytesOnASilentPortAreCountedAndLogged) {
    const fs::path dir = freshDir("stray");
    std::ostringstream out;
    sim::Log log(out);
    sim::PtyPorts ports(dir, 3);
    const auto line = sim::MakePtyLine(ports, 2, log);
    ProgramSide program(dir / "COM1");
    program.Write({0xFA, 0xFA, 0xF0});
    const auto until = sim::Clock::now() + deadline;
    while (line->StrayBytes() < 3 && sim::Clock::now() < until)
        line->Pause(20ms);
    EXPECT_EQ(line->StrayBytes(), 3u);
    EXPECT_NE(out.str().find("stray port COM1 bytes"), std::string::npos) << out.str();
}

TEST(SimPorts, ExistingFolderStaysAndStaleLinksAreReplacedButFilesAreNot) {
    const fs::path dir = freshDir("existing");
    fs::create_directories(dir);
    fs::create_symlink("/nonexistent/old", dir / "COM1");
    {
        sim::PtyPorts ports(dir, 1);
        EXPECT_EQ(fs::read_symlink(dir / "COM1").string(), ports.Ports()[0].device);
    }
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "COM1")));

    std::ofstream(dir / "COM1") << "not a link";
    EXPECT_THROW(sim::PtyPorts(dir, 1), std::runtime_error);
    EXPECT_TRUE(fs::is_regular_file(dir / "COM1"));
    fs::remove_all(dir);
}

TEST(SimPorts, DeviceLineTalksOverAnExistingTerminal) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[128];
    ASSERT_EQ(::ttyname_r(slave, name, sizeof name), 0);
    {
        const auto line = sim::MakeDeviceLine(name);
        EXPECT_EQ(line->Name(), name);
        ASSERT_TRUE(line->Write({0x0D, 0x0A, 0x03}));
        std::uint8_t buf[8];
        pollfd p{master, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 2000), 1);
        EXPECT_EQ(::read(master, buf, sizeof buf), 3);
        EXPECT_EQ((Bytes{buf[0], buf[1], buf[2]}), (Bytes{0x0D, 0x0A, 0x03}));
        const std::uint8_t reply = 0xFA;
        ASSERT_EQ(::write(master, &reply, 1), 1);
        EXPECT_EQ(line->ReadByte(sim::Clock::now() + deadline), 0xFA);
        EXPECT_THROW(line->Unplug(), std::logic_error);
    }
    ::close(master);
    ::close(slave);
    EXPECT_THROW(sim::MakeDeviceLine("/nonexistent/tty"), std::system_error);
    const fs::path file = freshDir("notatty");
    std::ofstream(file) << "x";
    EXPECT_THROW(sim::MakeDeviceLine(file.string()), std::runtime_error);
    fs::remove(file);
}

struct ConsoleRow {
    const char* device;
    const char* active; // content of class/tty/console/active
    bool console;
};

class SimConsoleGuard : public ::testing::TestWithParam<ConsoleRow> {};

TEST_P(SimConsoleGuard, RefusesTheMachinesConsole) {
    const fs::path sys = freshDir("sys");
    fs::create_directories(sys / "class/tty/console");
    std::ofstream(sys / "class/tty/console/active") << GetParam().active << "\n";
    EXPECT_EQ(sim::IsSystemConsole(GetParam().device, sys), GetParam().console);
    fs::remove_all(sys);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SimConsoleGuard,
    ::testing::Values(ConsoleRow{"/dev/ttyS0", "ttyS0", true}, ConsoleRow{"/dev/ttyS0", "tty0 ttyS0", true},
                      ConsoleRow{"/dev/ttyS1", "ttyS0", false}, ConsoleRow{"/dev/ttyUSB0", "ttyS0", false},
                      ConsoleRow{"/dev/pts/9", "pts/9", true}, ConsoleRow{"/dev/tty1", "", true},
                      ConsoleRow{"/dev/console", "", true}, ConsoleRow{"/dev/ttyACM0", "", false}));

} // namespace
