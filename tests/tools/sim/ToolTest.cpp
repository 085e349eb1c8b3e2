// SPDX-License-Identifier: MIT
// The tavro-sim executable, driven as a test or script drives it: options, log, exit status,
// signals, and a whole session over its pseudo-terminals with the decoder acting as program.
#include "ProgramPeer.h"
#include "SessionFile.h"
#include "SessionGen.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto runDeadline = 60s;

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("tavro-simtool-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    return dir;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// tavro-sim as a child process with its standard output and error on pipes.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{TAVRO_SIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid, TAVRO_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("posix_spawn");
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        outFd = out[0];
        errFd = err[0];
    }
    ~SimProcess() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(outFd);
        ::close(errFd);
    }

    // Reads whatever the process printed; false once its output is closed.
    bool Pump(int timeoutMs) {
        pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) <= 0)
            return !outClosed;
        char buf[4096];
        if (fds[1].revents) {
            const ssize_t n = ::read(errFd, buf, sizeof buf);
            if (n > 0)
                err.append(buf, static_cast<std::size_t>(n));
        }
        if (fds[0].revents) {
            const ssize_t n = ::read(outFd, buf, sizeof buf);
            if (n > 0)
                out.append(buf, static_cast<std::size_t>(n));
            else
                outClosed = true;
        }
        return !outClosed;
    }

    bool WaitForLog(const std::string& pattern) {
        const std::regex re(pattern);
        const auto until = Clock::now() + runDeadline;
        while (Clock::now() < until) {
            if (std::regex_search(out, re))
                return true;
            if (!Pump(50))
                return std::regex_search(out, re);
        }
        return false;
    }

    // Exit status once the process has ended (-1 on a deadline or a signal death).
    int Finish(std::function<void()> whileRunning = {}) {
        const auto until = Clock::now() + runDeadline;
        while (Clock::now() < until && Pump(whileRunning ? 5 : 100))
            if (whileRunning)
                whileRunning();
        if (!outClosed)
            return -1;
        while (Pump(100)) {
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int signal) const { ::kill(pid, signal); }

    std::string out, err;

private:
    pid_t pid = -1;
    int outFd = -1, errFd = -1;
    bool outClosed = false;
};

// The receiver program on one port link, polled like its receiver thread: on a fixed period
// it reads what arrived, makes one processing call (also without new bytes) and writes the
// reply byte when that call met an end record. It opens the link once it exists and again
// after an unplug.
class LinkedProgram {
public:
    static constexpr auto pollPeriod = 20ms;

    explicit LinkedProgram(fs::path link) : link(std::move(link)) {}
    ~LinkedProgram() { Close(); }

    void Step() {
        const auto now = Clock::now();
        if (now < nextPoll)
            return;
        nextPoll = now + pollPeriod;
        if (fd < 0) {
            fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (fd >= 0)
                ++opens;
            return;
        }
        std::vector<std::uint8_t> arrived;
        std::uint8_t buf[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                arrived.insert(arrived.end(), buf, buf + n);
                continue;
            }
            pollfd p{fd, POLLIN, 0};
            if ((n < 0 && errno != EAGAIN) || (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)))) {
                Close(); // unplugged
                return;
            }
            break;
        }
        received += arrived.size();
        for (const std::uint8_t reply : peer.Poll(arrived))
            if (::write(fd, &reply, 1) != 1)
                Close();
    }

    simtest::ProgramPeer peer;
    std::size_t opens = 0;
    std::size_t received = 0;

private:
    void Close() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    fs::path link;
    int fd = -1;
    Clock::time_point nextPoll{};
};

TEST(SimTool, HelpNamesEveryOptionAndTheFileFormat) {
    SimProcess sim({"--help"});
    EXPECT_EQ(sim.Finish(), 0);
    for (const char* option : {"--dir",
                               "--ports",
                               "--timer-port",
                               "--device",
                               "--demo",
                               "--session",
                               "--seed",
                               "--groups",
                               "--expect",
                               "--dump-session",
                               "--reply-timeout",
                               "--retries",
                               "--start-delay",
                               "--gap",
                               "--linger",
                               "--keep-open",
                               "--exit-when-done",
                               "--garbage",
                               "--bad-check",
                               "--bad-unit",
                               "--fragment",
                               "--unplug",
                               "--all-faults",
                               "--garbage-max",
                               "--fragment-max",
                               "--fragment-delay",
                               "--replug-delay",
                               "--fault-seed",
                               "--log",
                               "Session file format",
                               "Exit status"})
        EXPECT_NE(sim.out.find(option), std::string::npos) << option;

    SimProcess version({"--version"});
    EXPECT_EQ(version.Finish(), 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("tavro-sim [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

struct UsageRow {
    const char* name;
    std::vector<std::string> args;
    const char* message;
};

class SimToolUsage : public ::testing::TestWithParam<UsageRow> {};

TEST_P(SimToolUsage, ExitsWithTwoAndSaysWhy) {
    SimProcess sim(GetParam().args);
    EXPECT_EQ(sim.Finish(), 2);
    EXPECT_NE(sim.err.find(GetParam().message), std::string::npos) << sim.err;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, SimToolUsage,
    ::testing::Values(UsageRow{"UnknownOption", {"--bogus"}, "unknown option '--bogus'"},
                      UsageRow{"NoPorts", {"--ports", "0"}, "--ports wants a number from 1 to 64"},
                      UsageRow{"TimerBeyondPorts", {"--ports=2", "--timer-port=3"}, "beyond --ports 2"},
                      UsageRow{"MissingValue", {"--reply-timeout"}, "--reply-timeout wants a value"},
                      UsageRow{"NotANumber", {"--gap", "soon"}, "--gap wants a number"},
                      UsageRow{"FlagWithValue", {"--keep-open=1"}, "--keep-open takes no value"},
                      UsageRow{"TwoSessions", {"--demo", "--session", "x.txt"}, "names a second session"},
                      UsageRow{"DeviceAndPorts", {"--device", "/dev/null", "--ports", "2"}, "--device plays on one"},
                      UsageRow{"UnplugADevice", {"--device", "/dev/null", "--unplug", "2"}, "cannot be unplugged"},
                      UsageRow{"BadWhen", {"--bad-check", "every:0"}, "every:N wants a number from 1"},
                      UsageRow{"MissingSessionFile", {"--session", "/nonexistent/s.txt"}, "cannot be read"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimTool, BadSessionFileNamesItsLine) {
    const fs::path dir = freshDir("badfile");
    fs::create_directories(dir);
    std::ofstream(dir / "s.txt") << "group 1\nlap 1 1:2:3\n";
    SimProcess sim({"--session", (dir / "s.txt").string()});
    EXPECT_EQ(sim.Finish(), 2);
    EXPECT_NE(sim.err.find("s.txt:2: time '1:2:3'"), std::string::npos) << sim.err;
    fs::remove_all(dir);
}

TEST(SimTool, ExpectAndDumpFilesDescribeTheSession) {
    const fs::path dir = freshDir("files");
    fs::create_directories(dir);
    // Nobody answers and no retries: the run ends quickly with exit status 1.
    SimProcess sim({"--dir", (dir / "ports").string(), "--expect", (dir / "expect.txt").string(), "--dump-session",
                    (dir / "dump.txt").string(), "--retries", "0", "--reply-timeout", "20", "--gap", "0"});
    EXPECT_EQ(sim.Finish(), 1);
    EXPECT_EQ(readFile(dir / "expect.txt"), sim::ExpectedSavedText(sim::DemoSession()));
    EXPECT_EQ(sim::ParseSession(readFile(dir / "dump.txt"), "dump"), sim::DemoSession());
    EXPECT_EQ(std::count(sim.out.begin(), sim.out.end(), '\n'), std::ptrdiff_t(1 + 4 + 1 + 6 * 3 + 1)) << sim.out;
    EXPECT_NE(sim.out.find("give-up group 6 attempts 1"), std::string::npos) << sim.out;
    EXPECT_FALSE(fs::exists(dir / "ports")) << "links and the folder it made are removed";
    fs::remove_all(dir);
}

TEST(SimTool, NobodyReadingNeverStallsTheTimer) {
    // Far more than a pseudo-terminal buffers: without dropping unread bytes the writes would
    // block for good.
    SimProcess sim(words("--seed 1 --groups 400 --retries 0 --reply-timeout 1 --gap 0 --ports 1"));
    EXPECT_EQ(sim.Finish(), 1) << sim.err;
    EXPECT_NE(sim.out.find("overflow port COM1 unread bytes dropped"), std::string::npos);
    EXPECT_NE(sim.out.find("done groups 400 acknowledged 0 given-up 400"), std::string::npos);
}

// The whole protocol over the simulator's own ports, with every fault, the decoder acting as
// the program on COM3 and a second "program" listening on COM1, where nothing may arrive.
TEST(SimTool, FaultySessionArrivesCompleteOverPseudoTerminals) {
    const fs::path dir = freshDir("session");
    fs::create_directories(dir);
    const fs::path expect = dir / "expect.txt";
    SimProcess sim(words("--dir " + (dir / "ports").string() + " --ports 4 --timer-port 3 --seed 9 --groups 23" +
                         " --expect " + expect.string() + " --all-faults --reply-timeout 1500 --gap 0" +
                         " --fragment-delay 2 --replug-delay 50 --linger 100"));
    ASSERT_TRUE(sim.WaitForLog("ready dir .* ports 4 timer COM3\n")) << sim.out << sim.err;
    EXPECT_TRUE(std::regex_search(sim.out, std::regex("port COM3 device /dev/pts/[0-9]+\n")));

    LinkedProgram program(dir / "ports/COM3");
    LinkedProgram silent(dir / "ports/COM1");
    const int status = sim.Finish([&] {
        program.Step();
        silent.Step();
    });
    EXPECT_EQ(status, 0) << sim.out << sim.err;
    EXPECT_EQ(program.peer.shown, readFile(expect));
    EXPECT_EQ(silent.received, 0u);
    EXPECT_EQ(program.opens, 3u) << "two unplugs (groups 11 and 22)";
    EXPECT_NE(sim.out.find("done groups 23 acknowledged 23 given-up 0 sendings 32 naks 4 other 0 timeouts 3"),
              std::string::npos)
        << sim.out;
    EXPECT_FALSE(fs::exists(dir / "ports"));
    fs::remove_all(dir);
}

struct SignalRow {
    const char* name;
    int signal;
    bool answer; // the test answers as the program, so the session completes first
    int status;
};

class SimToolSignals : public ::testing::TestWithParam<SignalRow> {};

TEST_P(SimToolSignals, StopsCleanlyAndRemovesItsLinks) {
    const SignalRow& row = GetParam();
    const fs::path dir = freshDir(std::string("signal-") + row.name);
    fs::create_directories(dir);
    SimProcess sim({"--dir", dir.string(), "--ports", "2", "--keep-open", "--gap", "0", "--reply-timeout", "60000"});
    ASSERT_TRUE(sim.WaitForLog("ready dir")) << sim.err;
    EXPECT_TRUE(fs::is_symlink(dir / "COM1"));
    if (row.answer) {
        LinkedProgram program(dir / "COM1");
        const auto until = Clock::now() + runDeadline;
        while (sim.out.find("keep-open") == std::string::npos && Clock::now() < until) {
            program.Step();
            sim.Pump(5);
        }
        EXPECT_EQ(program.peer.groupsShown, 6u);
    } else {
        ASSERT_TRUE(sim.WaitForLog("send group 1 "));
    }
    sim.Signal(row.signal);
    EXPECT_EQ(sim.Finish(), row.status) << sim.out << sim.err;
    EXPECT_NE(sim.out.find("stop requested"), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "COM1")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "COM2")));
    EXPECT_TRUE(fs::is_directory(dir)) << "a folder it did not make stays";
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Stop, SimToolSignals,
                         ::testing::Values(SignalRow{"TermAfterSession", SIGTERM, true, 0},
                                           SignalRow{"IntMidSession", SIGINT, false, 4},
                                           SignalRow{"TermMidSession", SIGTERM, false, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimTool, PlaysOnAGivenDevice) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[128];
    ASSERT_EQ(::ttyname_r(slave, name, sizeof name), 0);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    SimProcess sim({"--device", name, "--gap", "0"});
    simtest::ProgramPeer peer;
    const int status = sim.Finish([&] {
        std::vector<std::uint8_t> got(4096);
        const ssize_t n = ::read(master, got.data(), got.size());
        if (n <= 0)
            return;
        got.resize(static_cast<std::size_t>(n));
        for (const std::uint8_t reply : peer.Poll(got))
            ASSERT_EQ(::write(master, &reply, 1), 1);
    });
    EXPECT_EQ(status, 0) << sim.out << sim.err;
    EXPECT_NE(sim.out.find(std::string("ready device ") + name), std::string::npos);
    EXPECT_EQ(peer.shown, sim::ExpectedSavedText(sim::DemoSession()));
    ::close(master);
    ::close(slave);
}

} // namespace
