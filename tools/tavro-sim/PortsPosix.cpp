// SPDX-License-Identifier: MIT
#include "Ports.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <deque>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace sim {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> stopFlag{false};
bool signalsInstalled = false;
sigset_t waitMask; // the signal mask inside waits: the caller's, with SIGINT and SIGTERM open

extern "C" void onStopSignal(int) {
    stopFlag.store(true);
}

constexpr auto longestSingleWait = std::chrono::seconds(1);
constexpr auto stallLimit = std::chrono::milliseconds(500);
constexpr std::size_t readChunkBytes = 256;

[[noreturn]] void raiseErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void setCloseOnExec(int fd) {
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) < 0)
        raiseErrno("fcntl(FD_CLOEXEC)");
}

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        raiseErrno("fcntl(O_NONBLOCK)");
}

// Raw 9600 8N1 with the receiver enabled and modem lines ignored, as the timer's line runs.
// On a pseudo-terminal slave this matters beyond looks: in the default cooked mode the line
// discipline echoes what the master writes back to the master, where the simulator would
// take its own bytes for the program's replies.
void setRawLine(int fd, const std::string& what) {
    termios t{};
    if (::tcgetattr(fd, &t) < 0)
        raiseErrno("tcgetattr " + what);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(fd, TCSANOW, &t) < 0)
        raiseErrno("tcsetattr " + what);
}

// ppoll that a stop signal interrupts. Returns the number of ready descriptors, or 0 once
// `until` has passed or a stop was requested.
int waitFor(std::vector<pollfd>& fds, Clock::time_point until) {
    for (;;) {
        if (StopSignalled())
            return 0;
        const auto now = Clock::now();
        const auto left = until > now ? std::min<Clock::duration>(until - now, longestSingleWait) : Clock::duration(0);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        const int ready = ::ppoll(fds.data(), fds.size(), &timeout, signalsInstalled ? &waitMask : nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            raiseErrno("ppoll");
        }
        if (ready > 0)
            return ready;
        if (Clock::now() >= until)
            return 0;
    }
}

// The common part of a line on a descriptor: the timer's descriptor plus, for a set of
// pseudo-terminals, the silent ports, which are drained while the simulator waits.
class FdLine : public TimerLine {
public:
    bool Write(const Bytes& bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(TimerFd(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                raiseErrno("write " + Name());
            // The line's buffer is full. A program that reads makes room within a poll or two;
            // otherwise nobody is reading, and like a real line, which never stalls its sender,
            // the bytes nobody took are dropped.
            const bool room = Wait(POLLOUT, Clock::now() + stallLimit) & POLLOUT;
            if (StopSignalled())
                return false;
            if (!room) {
                DropUnread();
                if (log)
                    log->Line("overflow port " + Name() + " unread bytes dropped");
            }
        }
        return true;
    }

    std::optional<std::uint8_t> ReadByte(Clock::time_point until) override {
        for (;;) {
            if (!queue.empty()) {
                const std::uint8_t byte = queue.front();
                queue.pop_front();
                return byte;
            }
            const short events = Wait(POLLIN, until);
            if (events & POLLIN) {
                std::array<std::uint8_t, readChunkBytes> chunk{};
                const ssize_t n = ::read(TimerFd(), chunk.data(), chunk.size());
                if (n > 0)
                    queue.insert(queue.end(), chunk.begin(), chunk.begin() + n);
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    raiseErrno("read " + Name());
                continue;
            }
            if (events & (POLLERR | POLLHUP | POLLNVAL))
                throw std::runtime_error(Name() + ": the line failed");
            return std::nullopt;
        }
    }

    bool Pause(Clock::duration duration) override {
        const auto until = Clock::now() + duration;
        while (Clock::now() < until && !StopSignalled())
            Wait(0, until);
        return !StopSignalled();
    }

    bool StopRequested() const override { return StopSignalled(); }
    std::size_t StrayBytes() const override { return stray; }

protected:
    virtual int TimerFd() const = 0;
    virtual std::size_t SilentCount() const { return 0; }
    virtual int SilentFd(std::size_t) const { return -1; }
    virtual std::string SilentName(std::size_t) const { return {}; }
    // Discards what was written to the line and not yet read by the program.
    virtual void DropUnread() = 0;

    void DropQueued() { queue.clear(); }

    Log* log = nullptr;

private:
    // One wait on the silent ports and, unless timerEvents is 0, the timer's descriptor.
    // Returns what happened on the timer's descriptor (0 on time-out or stop).
    short Wait(short timerEvents, Clock::time_point until) {
        std::vector<pollfd> fds;
        fds.push_back({timerEvents ? TimerFd() : -1, timerEvents, 0});
        for (std::size_t i = 0; i < SilentCount(); ++i)
            fds.push_back({SilentFd(i), POLLIN, 0});
        if (waitFor(fds, until) == 0)
            return 0;
        for (std::size_t i = 0; i < SilentCount(); ++i)
            if (fds[i + 1].revents & POLLIN)
                DrainSilent(i);
        return fds[0].revents;
    }

    void DrainSilent(std::size_t i) {
        std::array<std::uint8_t, readChunkBytes> chunk{};
        std::size_t total = 0;
        for (ssize_t n; (n = ::read(SilentFd(i), chunk.data(), chunk.size())) > 0;)
            total += static_cast<std::size_t>(n);
        stray += total;
        if (total > 0 && log)
            log->Line("stray port " + SilentName(i) + " bytes " + std::to_string(total));
    }

    std::deque<std::uint8_t> queue;
    std::size_t stray = 0;
};

class PtyLine final : public FdLine {
public:
    PtyLine(PtyPorts& ports, std::size_t timerIndex, Log& log) : ports(ports), timer(timerIndex) { this->log = &log; }

    void Unplug() override {
        DropQueued();
        ports.Unplug(timer);
    }
    std::string Replug() override { return ports.Replug(timer); }
    std::string Name() const override { return ports.Ports()[timer].name; }

protected:
    int TimerFd() const override { return ports.Ports()[timer].master; }
    void DropUnread() override { ::tcflush(ports.Ports()[timer].slave, TCIFLUSH); }
    std::size_t SilentCount() const override { return ports.Ports().size() - 1; }
    int SilentFd(std::size_t i) const override { return ports.Ports()[silentIndex(i)].master; }
    std::string SilentName(std::size_t i) const override { return ports.Ports()[silentIndex(i)].name; }

private:
    std::size_t silentIndex(std::size_t i) const { return i < timer ? i : i + 1; }

    PtyPorts& ports;
    std::size_t timer;
};

class DeviceLine final : public FdLine {
public:
    explicit DeviceLine(const std::string& path) : path(path) {
        if (IsSystemConsole(path))
            throw std::runtime_error(path + " is this machine's console; the simulator will not touch it");
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            raiseErrno("open " + path);
        try {
            if (!::isatty(fd))
                throw std::runtime_error(path + " is not a terminal device");
            setRawLine(fd, path);
        } catch (...) {
            closeFd(fd);
            throw;
        }
    }
    ~DeviceLine() override { closeFd(fd); }

    void Unplug() override { throw std::logic_error("a device line cannot be unplugged"); }
    std::string Replug() override { throw std::logic_error("a device line cannot be re-plugged"); }
    std::string Name() const override { return path; }

protected:
    int TimerFd() const override { return fd; }
    void DropUnread() override { ::tcflush(fd, TCOFLUSH); }

private:
    std::string path;
    int fd = -1;
};

bool pointsTo(const fs::path& link, const std::string& device) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec).string() == device;
}

} // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A closed log pipe must end in a write error, not in a silent death that leaves links behind.
    ::signal(SIGPIPE, SIG_IGN);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    signalsInstalled = true;
}

bool StopSignalled() {
    return stopFlag.load();
}

PtyPorts::PtyPorts(fs::path folder, unsigned count) : dir(std::move(folder)) {
    if (dir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "tavro-sim.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            raiseErrno("mkdtemp " + pattern);
        dir = pattern;
        createdDir = true;
    } else if (!fs::exists(dir)) {
        fs::create_directories(dir);
        createdDir = true;
    } else if (!fs::is_directory(dir)) {
        throw std::runtime_error(dir.string() + " is not a folder");
    }
    ports.resize(count);
    try {
        for (std::size_t i = 0; i < count; ++i) {
            ports[i].name = "COM" + std::to_string(i + 1);
            Open(i);
            Link(i);
        }
    } catch (...) {
        Release();
        throw;
    }
}

PtyPorts::~PtyPorts() {
    Release();
}

void PtyPorts::Release() {
    for (PtyPort& port : ports) {
        const fs::path link = dir / port.name;
        if (!port.device.empty() && pointsTo(link, port.device)) {
            std::error_code ec;
            fs::remove(link, ec);
        }
        closeFd(port.master);
        closeFd(port.slave);
    }
    ports.clear();
    if (createdDir) {
        std::error_code ec;
        fs::remove(dir, ec); // only when empty: never take files that someone else put there
        createdDir = false;
    }
}

void PtyPorts::Open(std::size_t i) {
    PtyPort& port = ports[i];
    if (::openpty(&port.master, &port.slave, nullptr, nullptr, nullptr) < 0)
        raiseErrno("openpty");
    std::array<char, 128> name{};
    if (::ttyname_r(port.slave, name.data(), name.size()) != 0)
        raiseErrno("ttyname_r");
    port.device = name.data();
    setCloseOnExec(port.master);
    setCloseOnExec(port.slave);
    setNonBlocking(port.master);
    setRawLine(port.slave, port.device);
}

void PtyPorts::Link(std::size_t i) {
    const PtyPort& port = ports[i];
    const fs::path link = dir / port.name;
    std::error_code ec;
    const auto status = fs::symlink_status(link, ec);
    if (fs::exists(status) && !fs::is_symlink(status))
        throw std::runtime_error(link.string() + " exists and is not a link; not replacing it");
    // Made under another name and renamed into place, so the program never finds the name
    // missing or half made while a stale link is being replaced.
    const fs::path temporary = dir / ("." + port.name + "." + std::to_string(::getpid()) + ".tmp");
    fs::remove(temporary, ec);
    fs::create_symlink(port.device, temporary);
    fs::rename(temporary, link);
}

void PtyPorts::Unplug(std::size_t i) {
    PtyPort& port = ports[i];
    const fs::path link = dir / port.name;
    if (pointsTo(link, port.device)) {
        std::error_code ec;
        fs::remove(link, ec);
    }
    closeFd(port.master);
    closeFd(port.slave);
    port.device.clear();
}

std::string PtyPorts::Replug(std::size_t i) {
    Open(i);
    Link(i);
    return ports[i].device;
}

std::unique_ptr<TimerLine> MakePtyLine(PtyPorts& ports, std::size_t timerIndex, Log& log) {
    if (timerIndex >= ports.Ports().size())
        throw std::out_of_range("no such port");
    return std::make_unique<PtyLine>(ports, timerIndex, log);
}

std::unique_ptr<TimerLine> MakeDeviceLine(const std::string& path) {
    return std::make_unique<DeviceLine>(path);
}

bool IsSystemConsole(const std::string& device, const fs::path& sysRoot) {
    std::error_code ec;
    fs::path real = fs::canonical(device, ec);
    if (ec)
        real = fs::path(device).lexically_normal();
    const std::string name = real.lexically_relative("/dev").string();
    if (name == "console" || name == "tty")
        return true;
    // Virtual terminals tty0..tty63.
    if (name.size() > 3 && name.starts_with("tty") &&
        std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return true;
    std::ifstream active(sysRoot / "class/tty/console/active");
    for (std::string entry; active >> entry;)
        if (entry == name)
            return true;
    return false;
}

} // namespace sim
