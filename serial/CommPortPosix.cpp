// SPDX-License-Identifier: MIT
#include "CommPort.h"

#include "BoundedCall.h"
#include "CommPortPosixTesting.h"
#include "LineSpeed.h"
#include "PortDevices.h"
#include "PortHolders.h"
#include "PortLock.h"
#include "PortNames.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The reply to the timer's last group may still sit in the driver when the port is closed;
// at 9600 bits per second a byte takes about 1 ms on the line. Longer than this and the
// adapter has stalled: what is left is discarded rather than waited for (up to the kernel's
// 30 s closing wait).
constexpr auto closeDrainLimit = milliseconds(20);
constexpr auto closeDrainStep = milliseconds(1);

constexpr int ordinaryDiscipline = 0; // N_TTY

// The line disciplines with which kernel drivers take a terminal over, as a user knows them.
constexpr std::pair<int, const char*> disciplineNames[] = {
    {1, "SLIP"},  {2, "serial mouse"}, {3, "PPP"},  {5, "AX.25"},          {6, "X.25"},  {7, "6pack"},
    {11, "IrDA"}, {13, "HDLC"},        {14, "PPP"}, {15, "Bluetooth HCI"}, {17, "CAN"},  {18, "PPS"},
    {20, "CAIF"}, {21, "GSM 07.10"},   {25, "NFC"}, {27, "null"},          {28, "MCTP"}, {30, "CAN (ELM327)"},
};

constexpr const char* notResponding = "does not respond (a hanging adapter? unplug it and plug it in again)";

constexpr TCommTimeouts portTimeouts{
    .readInterval = milliseconds(15),
    .readTotalMultiplier = milliseconds(1),
    .readTotalConstant = milliseconds(250),
    .writeTotalMultiplier = milliseconds(1),
    .writeTotalConstant = milliseconds(250),
};

[[noreturn]] void Raise(std::uint8_t code, int osError) {
    throw ECommError{code, static_cast<std::uint32_t>(osError)};
}

template <class Call>
auto RetryOnInterrupt(Call call) {
    auto result = call();
    while (result == -1 && errno == EINTR) {
        result = call();
    }
    return result;
}

// Closes the descriptor on every path out of a failed open.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }

private:
    int fd;
};

constexpr std::pair<std::int32_t, speed_t> standardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000}};

// The B-constant of a rate that has one, or B0 for any other rate.
speed_t StandardSpeed(std::int32_t bitsPerSecond) {
    const auto* found = std::find_if(std::begin(standardSpeeds), std::end(standardSpeeds),
                                     [&](const auto& entry) { return entry.first == bitsPerSecond; });
    return found == std::end(standardSpeeds) ? B0 : found->second;
}

// B0 would hang up the line, so a rate without a B-constant keeps the current speed here and is
// set afterwards through SetArbitraryLineSpeed.
void SetSpeed(termios& settings, std::int32_t bitsPerSecond) {
    if (const speed_t speed = StandardSpeed(bitsPerSecond); speed != B0) {
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
    }
}

int SetDataBits(termios& settings, std::uint8_t bits) {
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (bits < 5 || bits > 8) {
        return EINVAL;
    }
    settings.c_cflag = (settings.c_cflag & ~CSIZE) | sizes[bits - 5];
    return 0;
}

void SetParity(termios& settings, TParity parity) {
    settings.c_cflag &= ~(PARENB | PARODD);
    settings.c_iflag &= ~INPCK;
    if (parity != TParity::none) {
        settings.c_cflag |= PARENB | (parity == TParity::odd ? PARODD : 0);
        settings.c_iflag |= INPCK;
    }
}

void SetStopBits(termios& settings, TStopBits stopBits) {
    if (stopBits == TStopBits::two) {
        settings.c_cflag |= CSTOPB;
    } else {
        settings.c_cflag &= ~CSTOPB;
    }
}

void SetFlowControl(termios& settings, bool hardware, bool software) {
    settings.c_cflag = hardware ? settings.c_cflag | CRTSCTS : settings.c_cflag & ~CRTSCTS;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (software) {
        settings.c_iflag |= IXON | IXOFF;
    }
}

// A pseudo-terminal has no modem lines and answers ENOTTY (some drivers EINVAL); that is no
// reason to refuse the port.
int SetModemLines(int fd, bool dtrOn, bool rtsOn) {
    const int on = (dtrOn ? TIOCM_DTR : 0) | (rtsOn ? TIOCM_RTS : 0);
    const int off = (TIOCM_DTR | TIOCM_RTS) & ~on;
    for (auto [request, bits] : {std::pair{TIOCMBIS, on}, std::pair{TIOCMBIC, off}}) {
        if (bits != 0 && RetryOnInterrupt([&] { return ioctl(fd, request, &bits); }) != 0 && errno != ENOTTY &&
            errno != EINVAL) {
            return errno;
        }
    }
    return 0;
}

// A plain copy of TLineSettings, for the thread that opens the port.
struct LineChoice {
    std::int32_t baudRate;
    std::uint8_t byteSize;
    TParity parity;
    TStopBits stopBits;
    bool hardwareFlowControl;
    bool softwareFlowControl;
    bool dtrOn;
    bool rtsOn;
};

LineChoice ChoiceOf(const TLineSettings& line) {
    return {line.baudRate.load(std::memory_order_relaxed),
            line.byteSize,
            line.parity,
            line.stopBits,
            line.hardwareFlowControl,
            line.softwareFlowControl,
            line.dtrOn,
            line.rtsOn};
}

// Raw 8-bit line, ignoring the modem's carrier (CLOCAL) so that neither open nor reads wait for
// it and a carrier drop cannot hang the port up. cfmakeraw also sets VMIN 1 and VTIME 0: with
// O_NONBLOCK an empty queue then reads as EAGAIN, and read() returning 0 can only mean a
// hang-up. Returns 0 or an errno value.
int WriteLineSettings(int fd, termios settings, const LineChoice& line) {
    const std::int32_t bitsPerSecond = line.baudRate;
    if (bitsPerSecond <= 0) {
        return EINVAL;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    SetSpeed(settings, bitsPerSecond);
    if (const int error = SetDataBits(settings, line.byteSize)) {
        return error;
    }
    SetParity(settings, line.parity);
    SetStopBits(settings, line.stopBits);
    SetFlowControl(settings, line.hardwareFlowControl, line.softwareFlowControl);
    if (RetryOnInterrupt([&] { return tcsetattr(fd, TCSANOW, &settings); }) != 0) {
        return errno;
    }
    if (StandardSpeed(bitsPerSecond) == B0) {
        if (const int error = SetArbitraryLineSpeed(fd, bitsPerSecond)) {
            return error;
        }
    }
    return SetModemLines(fd, line.dtrOn, line.rtsOn);
}

enum class Readiness { ready, timedOut, gone };

// A device that went away (USB adapter pulled, other side of a pseudo-terminal closed) shows as
// POLLHUP or POLLERR; its read() returns 0 at once, which alone cannot be told from "no data".
Readiness WaitUntil(int fd, short events, Clock::time_point deadline) {
    pollfd watch{fd, events, 0};
    int result = 0;
    do {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        result = poll(&watch, 1, static_cast<int>(std::max<milliseconds::rep>(left.count(), 0)));
    } while (result == -1 && errno == EINTR);
    if (result < 0 || (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return Readiness::gone;
    }
    return result == 0 ? Readiness::timedOut : Readiness::ready;
}

bool NothingWaiting(ssize_t result) {
    return result == 0 || (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

void RequireOpen(const std::atomic<bool>& portOpen) {
    if (!portOpen.load(std::memory_order_acquire)) {
        Raise(cePortNotOpen, 0);
    }
}

constexpr std::pair<std::uint8_t, const char*> operationTexts[] = {
    {ceSetBaudRate, "the baud rate could not be set"},
    {ceNameWhileOpen, "the name cannot change while the port is open"},
    {cePortNotOpen, "the port is not open"},
    {ceWrite, "writing failed"},
    {ceRead, "reading failed"},
    {ceClosePort, "closing failed"},
    {ceGetState, "reading the line settings failed"},
    {ceSetState, "the line settings were refused"},
    {ceSetupQueues, "setting up the queues failed"},
    {ceSetTimeouts, "setting the time-outs failed"},
    {ceQueryStatus, "querying the port failed"},
};

// The errno values a port meets, in the words a user understands.
constexpr std::pair<int, const char*> systemErrorTexts[] = {
    {ENOENT, "no such serial port"},
    {EACCES, "permission denied"},
    {EBUSY, "in use by another program"},
    {EWOULDBLOCK, "in use by another program"},
    {ENOTTY, "not a serial port"},
    {ENODEV, "no device behind it"},
    {ENXIO, "no device behind it"},
    {EIO, "input/output error (device unplugged?)"},
    {ETIMEDOUT, "timed out"},
    {EINVAL, "not supported by the port"},
};

template <class Key, std::size_t size>
const char* TextOf(const std::pair<Key, const char*> (&table)[size], Key key) {
    const auto* found = std::find_if(table, table + size, [&](const auto& entry) { return entry.first == key; });
    return found == table + size ? nullptr : found->second;
}

std::string OperationText(std::uint8_t code) {
    const char* text = TextOf(operationTexts, code);
    return text != nullptr ? text : "error " + std::to_string(code);
}

std::string SystemErrorText(std::uint32_t osError) {
    if (const char* text = TextOf(systemErrorTexts, static_cast<int>(osError))) {
        return text;
    }
    std::string text = std::generic_category().message(static_cast<int>(osError));
    if (!text.empty()) {
        text.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(text.front())));
    }
    return text;
}

// What the opening thread found: a descriptor set up for the line, or why not.
struct OpenAttempt {
    int fd = -1;
    std::uint8_t code = 0; // 0: fd is open and set up
    int error = 0;
    int discipline = ordinaryDiscipline;
};

// Discards what the driver still holds, after a short grace for the last reply, and lets
// go of the terminal's exclusive flag, which belongs to the terminal and not to the
// descriptor: a pseudo-terminal outlives our close and would keep turning others away.
void PrepareClose(int fd) {
    ioctl(fd, TIOCNXCL);
    const auto deadline = Clock::now() + closeDrainLimit;
    int queued = 0;
    while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline) {
        const timespec step{0, std::chrono::nanoseconds(closeDrainStep).count()};
        nanosleep(&step, nullptr);
    }
    tcflush(fd, TCOFLUSH);
}

std::mutex closeCallMutex;
std::function<int(int)> closeCall;

// Runs on a thread of its own (see CloseCommPort); returns 0 or an errno value.
int CloseDescriptor(int fd) {
    PrepareClose(fd);
    std::function<int(int)> call;
    {
        const std::lock_guard lock(closeCallMutex);
        call = closeCall;
    }
    return (call ? call(fd) : close(fd)) == 0 ? 0 : errno;
}

// A close has a key of its own beside the device's (an open's): one port object may close a
// device while another's open of it hangs in the kernel. Either keeps new opens away.
std::string ClosingKey(const std::string& device) {
    return "close:" + device;
}

bool CallOnDeviceRunning(const std::string& device) {
    return BoundedCallRunning(device) || BoundedCallRunning(ClosingKey(device));
}

// Runs on a thread of its own (see OpenCommPort). The checks that need a descriptor come
// before anything is changed on the terminal: another user's line keeps its settings.
OpenAttempt OpenAndSetUp(const std::string& device, const LineChoice& line) {
    // O_NONBLOCK: opening a real port must not wait for a carrier, and reads and writes wait
    // in poll() below, where the time-outs are kept.
    Descriptor fd(RetryOnInterrupt([&] { return open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (fd.get() < 0) {
        return {.code = ceOpenPort, .error = errno};
    }
    // Exclusive use, as the timer's protocol needs one reader per line: TIOCEXCL turns away
    // later open() calls of other users, but root ignores it, so an advisory flock() on our
    // descriptor guards as well; it also fails for root (EWOULDBLOCK), in this process and in
    // any other that locks the same way.
    if (RetryOnInterrupt([&] { return flock(fd.get(), LOCK_EX | LOCK_NB); }) != 0) {
        return {.code = ceOpenPort, .error = errno};
    }
    int discipline = ordinaryDiscipline;
    if (ioctl(fd.get(), TIOCGETD, &discipline) != 0) {
        return {.code = ceOpenPort, .error = errno};
    }
    if (discipline != ordinaryDiscipline) {
        return {.code = ceOpenPort, .error = EBUSY, .discipline = discipline};
    }
    if (ioctl(fd.get(), TIOCEXCL) != 0) {
        return {.code = ceOpenPort, .error = errno};
    }
    termios current{};
    std::uint8_t code = 0;
    int error = 0;
    if (RetryOnInterrupt([&] { return tcgetattr(fd.get(), &current); }) != 0) {
        code = ceGetState;
        error = errno;
    } else if ((error = WriteLineSettings(fd.get(), current, line)) != 0) {
        code = ceSetState;
    }
    if (code != 0) {
        ioctl(fd.get(), TIOCNXCL);
        return {.code = code, .error = error};
    }
    return {.fd = fd.release()};
}

std::string InUseBy(const std::string& name, pid_t pid) {
    return "in use by " + (name.empty() ? std::string("another program") : name) + " (PID " + std::to_string(pid) + ")";
}

std::string DisciplineText(int discipline) {
    const char* name = TextOf(disciplineNames, discipline);
    return "taken over by a kernel driver (" +
           (name != nullptr ? std::string(name) : "line discipline " + std::to_string(discipline)) + ")";
}

bool IsPseudoTerminal(const std::string& device, const TPortRoots& roots) {
    return device.starts_with(roots.dev + "/pts/");
}

// Only a device right in the device folder has a tty entry in sysfs.
std::string DescribeDevice(const std::string& device, const TPortRoots& roots) {
    const fs::path path(device);
    return path.parent_path() == fs::path(roots.dev) ? DescribeTty(roots.sysfs, path.filename().string())
                                                     : std::string();
}

} // namespace

std::string CommErrorReason(const ECommError& error, const std::string& portName, const std::string& devicePath,
                            const std::string& cause) {
    std::string text = portName.empty() ? "The port" : portName;
    if (!devicePath.empty() && devicePath != portName) {
        text += " (" + devicePath + ")";
    }
    text += ": ";
    if (!cause.empty()) {
        text += cause;
    } else if (error.code == ceOpenPort) {
        text += SystemErrorText(error.osError);
    } else {
        text += OperationText(error.code);
        if (error.osError != 0) {
            text += ": " + SystemErrorText(error.osError);
        }
    }
    if (error.osError == EACCES) {
        text += " \u2014 add your user to the 'dialout' group and log in again";
    }
    return text;
}

struct TPortSystemState {};

TCommPort::TCommPort() = default;

TCommPort::~TCommPort() {
    try {
        CloseCommPort();
    } catch (const ECommError&) {
        // The descriptor is released either way; nobody is left to tell.
    }
}

void TCommPort::OpenCommPort() {
    OpenCommPort(SystemPortRoots());
}

// Other programs' claims are checked before the device is opened: on a real port the open
// alone raises the modem lines under its user. Our own lock is taken at once, so that no
// other careful program starts on the port while we set it up.
void TCommPort::OpenCommPort(const TPortRoots& roots) {
    if (portOpen.load(std::memory_order_acquire)) {
        return;
    }
    openFailure.clear();
    refusedInUse = false;
    devicePath = SystemPortList().Resolve(portName, roots);
    if (devicePath.empty()) {
        Raise(ceOpenPort, ENOENT);
    }
    std::error_code missing;
    const std::string device = fs::canonical(devicePath, missing).string();
    if (missing) {
        Raise(ceOpenPort, missing.value());
    }
    if (CallOnDeviceRunning(device)) {
        openFailure = notResponding;
        Raise(ceOpenPort, ETIMEDOUT);
    }

    auto claim = std::make_shared<std::unique_ptr<TPortLock>>(std::make_unique<TPortLock>());
    if ((*claim)->Take(roots.lockDir, device) == TPortLock::Outcome::claimed) {
        const TLockClaim& holder = (*claim)->Claim();
        openFailure = holder.kind == TLockClaim::Kind::live
                          ? InUseBy(ProcessName(roots.proc, holder.pid), holder.pid)
                          : "in use by another program (lock file " + (*claim)->Path() + ")";
        refusedInUse = true;
        Raise(ceOpenPort, EBUSY);
    }
    // The process at the far end of a pseudo-terminal (a simulator, socat) holds the same
    // device, so only real devices are looked for in other processes.
    if (!IsPseudoTerminal(device, roots)) {
        if (const auto holder = FindDeviceHolder(roots.proc, device, getpid())) {
            openFailure = InUseBy(holder->name, holder->pid);
            refusedInUse = true;
            Raise(ceOpenPort, EBUSY);
        }
    }

    // The kernel may keep open() or the first settings waiting for seconds (a wedged USB
    // adapter times out each control transfer), and this runs on the user-interface thread.
    // So the opening runs on a thread of its own that is waited for only openPatience; if it
    // returns later it closes what it opened and then drops our lock, which it shares.
    OpenAttempt attempt;
    TBoundedStatus status = TBoundedStatus::busy;
    try {
        status = CallWithin<OpenAttempt>(
            device, openPatience, [device, line = ChoiceOf(lineSettings)] { return OpenAndSetUp(device, line); },
            [claim](OpenAttempt&& late) {
                if (late.fd >= 0) {
                    PrepareClose(late.fd);
                    close(late.fd);
                }
                claim->reset();
            },
            attempt);
    } catch (const std::system_error& error) {
        Raise(ceOpenPort, error.code().value());
    }
    if (status != TBoundedStatus::done) {
        openFailure = notResponding;
        Raise(ceOpenPort, ETIMEDOUT);
    }
    std::unique_ptr<TPortLock> taken = std::move(*claim);
    if (attempt.code != 0) {
        // TIOCEXCL of another user gives EBUSY, its flock() EWOULDBLOCK.
        refusedInUse = attempt.error == EBUSY || attempt.error == EWOULDBLOCK;
        if (attempt.discipline != ordinaryDiscipline) {
            openFailure = DisciplineText(attempt.discipline);
        }
        Raise(attempt.code, attempt.error);
    }
    // There is no queue to request: the tty layer keeps 4 KiB in the line discipline and, before
    // it drops input, hundreds of KiB in its flip buffers, far more than receiveQueueBytes.
    timeouts = portTimeouts;
    handle = attempt.fd;
    lock = std::move(taken);
    deviceName = device;
    deviceDescription = DescribeDevice(device, roots);
    portOpen.store(true, std::memory_order_release);
}

// Linux releases the descriptor even when close() reports an error, and its number may be
// handed out again at once; so the port counts as closed whatever close() says, and an error
// is still reported. Our lock file goes only once the descriptor is closed.
//
// The drain and close() itself may wait in the kernel for an adapter that hangs, and the window
// closes fifteen ports in one go when it has found the timer. So, as opening, closing runs on a
// thread of its own that is waited for only closePatience; a close that returns later drops our
// lock then, and until then an open of the device is refused as not responding.
void TCommPort::CloseCommPort() {
    if (!portOpen.load(std::memory_order_acquire)) {
        return;
    }
    const int fd = std::exchange(handle, -1);
    auto claim = std::make_shared<std::unique_ptr<TPortLock>>(std::move(lock));
    portOpen.store(false, std::memory_order_release);
    int error = 0;
    TBoundedStatus status = TBoundedStatus::busy;
    try {
        status = CallWithin<int>(
            ClosingKey(deviceName), closePatience, [fd] { return CloseDescriptor(fd); },
            [claim](int&&) { claim->reset(); }, error);
    } catch (const std::system_error&) {
        // No thread to be had; closed here below.
    }
    if (status == TBoundedStatus::timedOut) {
        return;
    }
    // No thread could be started, or (as opens are refused meanwhile, never in practice) a
    // late close of this device is still under way: close here.
    if (status == TBoundedStatus::busy) {
        error = CloseDescriptor(fd);
    }
    claim->reset();
    if (error != 0 && error != EINTR) {
        Raise(ceClosePort, error);
    }
}

void TCommPort::SetPortName(const std::string& name) {
    if (portOpen.load(std::memory_order_acquire)) {
        Raise(ceNameWhileOpen, 0);
    }
    portName = name;
}

void TCommPort::SetBaudRate(std::int32_t bitsPerSecond) {
    const std::int32_t old = lineSettings.baudRate.exchange(bitsPerSecond, std::memory_order_relaxed);
    if (!portOpen.load(std::memory_order_acquire)) {
        return;
    }
    termios current{};
    int error = RetryOnInterrupt([&] { return tcgetattr(handle, &current); }) != 0 ? errno : 0;
    if (error == 0) {
        error = WriteLineSettings(handle, current, ChoiceOf(lineSettings));
    }
    if (error != 0) {
        lineSettings.baudRate.store(old, std::memory_order_relaxed);
        Raise(ceSetBaudRate, error);
    }
}

std::uint32_t TCommPort::BytesAvailable() {
    RequireOpen(portOpen);
    int waiting = 0;
    if (ioctl(handle, FIONREAD, &waiting) != 0) {
        Raise(ceQueryStatus, errno);
    }
    if (waiting == 0 && WaitUntil(handle, POLLIN, Clock::now()) == Readiness::gone) {
        Raise(ceQueryStatus, EIO);
    }
    return static_cast<std::uint32_t>(std::max(waiting, 0));
}

std::uint32_t TCommPort::ReadBytes(unsigned char* buffer, std::uint32_t count) {
    RequireOpen(portOpen);
    const auto totalDeadline = Clock::now() + timeouts.readTotalConstant + timeouts.readTotalMultiplier * count;
    std::uint32_t got = 0;
    while (got < count) {
        const ssize_t n = RetryOnInterrupt([&] { return read(handle, buffer + got, count - got); });
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            continue;
        }
        if (!NothingWaiting(n)) {
            Raise(ceRead, errno);
        }
        const auto deadline = got == 0 ? totalDeadline : std::min(totalDeadline, Clock::now() + timeouts.readInterval);
        const Readiness readiness = WaitUntil(handle, POLLIN, deadline);
        if (readiness == Readiness::gone) {
            if (got > 0) {
                break; // hand over what arrived; the next call reports the loss
            }
            Raise(ceRead, EIO);
        }
        if (readiness == Readiness::timedOut || Clock::now() >= deadline) {
            break;
        }
    }
    if (got < count) {
        buffer[got] = 0;
    }
    return got;
}

void TCommPort::WriteByte(std::uint8_t value) {
    RequireOpen(portOpen);
    const auto deadline = Clock::now() + timeouts.writeTotalConstant + timeouts.writeTotalMultiplier;
    for (;;) {
        const ssize_t n = RetryOnInterrupt([&] { return write(handle, &value, 1); });
        if (n == 1) {
            return;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Raise(ceWrite, errno);
        }
        const Readiness readiness = WaitUntil(handle, POLLOUT, deadline);
        if (readiness == Readiness::gone) {
            Raise(ceWrite, EIO);
        }
        if (readiness == Readiness::timedOut || Clock::now() >= deadline) {
            Raise(ceWrite, ETIMEDOUT);
        }
    }
}

void comm_port_testing::SetCloseCall(std::function<int(int fd)> close) {
    const std::lock_guard lock(closeCallMutex);
    closeCall = std::move(close);
}
