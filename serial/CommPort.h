// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class TPortLock;
struct TPortRoots;
struct TPortSystemState;

// Which operation of TCommPort failed.
inline constexpr std::uint8_t ceSetBaudRate = 1;
inline constexpr std::uint8_t ceNameWhileOpen = 6;
inline constexpr std::uint8_t cePortNotOpen = 7;
inline constexpr std::uint8_t ceOpenPort = 8;
inline constexpr std::uint8_t ceWrite = 9;
inline constexpr std::uint8_t ceRead = 10;
inline constexpr std::uint8_t ceClosePort = 11;
inline constexpr std::uint8_t ceGetState = 14;
inline constexpr std::uint8_t ceSetState = 15;
inline constexpr std::uint8_t ceSetupQueues = 16;
inline constexpr std::uint8_t ceSetTimeouts = 17;
inline constexpr std::uint8_t ceQueryStatus = 18;

// The one error TCommPort raises, by value. `osError` is the operating system's error value
// (errno on POSIX) taken when the error was built; 0 when no system call failed.
class ECommError {
public:
    std::uint8_t code;
    std::uint32_t osError;
};

// A short English reason for a failure of the port `portName` ("COM1") resolved to
// `devicePath` ("/dev/ttyUSB0", empty when the name resolved to nothing), e.g.
// "COM1 (/dev/ttyUSB0): permission denied — add your user to the 'dialout' group and log in
// again". A `cause` (TCommPort::GetOpenFailure) says more than the error value and takes its
// place: "COM2 (/dev/ttyUSB1): in use by minicom (PID 4711)". UTF-8.
std::string CommErrorReason(const ECommError& error, const std::string& portName, const std::string& devicePath,
                            const std::string& cause = {});

enum class TParity : std::uint8_t { none, odd, even };
enum class TStopBits : std::uint8_t { one, two };

// What the port is set to at every open and at every change of baud rate while open. Only the
// baud rate ever changes; it is read from the user-interface thread while the receiver thread
// polls, hence atomic.
struct TLineSettings {
    std::atomic<std::int32_t> baudRate{4800};
    std::uint8_t byteSize = 8;
    TParity parity = TParity::none;
    TStopBits stopBits = TStopBits::one;
    bool hardwareFlowControl = false;
    bool softwareFlowControl = false;
    bool dtrOn = true;
    bool rtsOn = true;
};

// Read and write time-outs, as the receiver thread expects them: a read returns what is
// waiting once the line has been quiet for `readInterval` after a byte, and in any case after
// `readTotalConstant` plus `readTotalMultiplier` per requested byte; a write gives up after
// `writeTotalConstant` plus `writeTotalMultiplier` per byte.
struct TCommTimeouts {
    std::chrono::milliseconds readInterval{0};
    std::chrono::milliseconds readTotalMultiplier{0};
    std::chrono::milliseconds readTotalConstant{0};
    std::chrono::milliseconds writeTotalMultiplier{0};
    std::chrono::milliseconds writeTotalConstant{0};
};

// One serial port of the PC, named "COM1".."COM16" as the user sees it. The name is turned into
// a device at every OpenCommPort through the kept port list (see PortNames.h), so an adapter
// plugged in later is found once the list is refreshed: by the window at every connect and
// rescan, or when the list is older than a second.
//
// A port that another program uses is left alone, as Linux itself would not stop a second
// open: one whose UUCP lock file names a live process (see PortLock.h), one that another
// process holds with TIOCEXCL or flock, one that a kernel driver has taken over (a line
// discipline other than the ordinary one: PPP, Bluetooth HCI, CAN, ...), and a real device
// (not a pseudo-terminal) that another process has open. While open, the port is held
// exclusively (TIOCEXCL, flock) and under our own lock file.
//
// No operation may run on two threads at once, except IsOpen and GetBaudRate, which may be read
// from any thread at any time. Every failure raises ECommError by value.
class TCommPort {
public:
    // The receiver thread polls every 100 ms; at 9600 bits per second about 96 bytes arrive in
    // that time, so this leaves room for long stalls of the thread.
    static constexpr std::uint32_t receiveQueueBytes = 32768;

    TCommPort();
    ~TCommPort();
    TCommPort(const TCommPort&) = delete;
    TCommPort& operator=(const TCommPort&) = delete;

    // How long an open may keep the calling (user-interface) thread waiting for the kernel.
    static constexpr auto openPatience = std::chrono::milliseconds(300);

    // Does nothing if the port is open. Raises ceOpenPort (no such port, in use, no access,
    // not a serial port, ETIMEDOUT when the device did not open within openPatience or an
    // earlier open or close of it given up on has not ended), ceGetState or ceSetState; after a
    // failure nothing is left open, GetOpenFailure may say more, and the same object can try
    // again later. (ceSetupQueues and ceSetTimeouts belong to platforms where queues and
    // time-outs are requested from the driver; on POSIX the kernel's buffers suffice and the
    // time-outs are kept by this class, so nothing there can fail.)
    void OpenCommPort();
    // The same, on the given roots instead of this machine's.
    void OpenCommPort(const TPortRoots& roots);
    // How long a close may keep the calling thread waiting for the system; closes are
    // normally instant.
    static constexpr auto closePatience = std::chrono::milliseconds(100);

    // Does nothing if the port is closed. The port counts as closed at once. Output not yet
    // sent after a short grace (the last reply byte) is discarded, so that closing never waits
    // for an adapter that has stalled. A device that keeps the close waiting longer than
    // closePatience (a hanging adapter) is released, and after it our claim on it (the lock
    // file), when the system lets go; until then opening it raises ceOpenPort with ETIMEDOUT.
    // Raises ceClosePort when the system reports a failure within closePatience; the device is
    // released all the same.
    void CloseCommPort();
    bool IsOpen() const { return portOpen.load(std::memory_order_acquire); }

    // Raises ceNameWhileOpen, keeping the old name, if the port is open.
    void SetPortName(const std::string& name);
    std::string GetPortName() const { return portName; }
    // The device the name was resolved to at the latest open attempt; empty before the first
    // attempt or when the name matched no port.
    std::string GetDevicePath() const { return devicePath; }
    // The device itself, behind any link ("/dev/pts/5" for a TAVRO_PORT_DIR link), and what
    // it is for the user ("FTDI FT232R USB UART, serial A10K3XYZ", empty when unknown); both
    // from the latest successful open.
    std::string GetDeviceName() const { return deviceName; }
    std::string GetDeviceDescription() const { return deviceDescription; }
    // Why the latest open failed, in more words than its error value ("in use by minicom (PID
    // 4711)"); empty when the error value says it all or the open succeeded.
    std::string GetOpenFailure() const { return openFailure; }
    // Whether the latest open failed because another program holds the device (its lock file,
    // its exclusive open, a kernel driver it attached), so that trying again once it lets go
    // may succeed.
    bool OpenRefusedInUse() const { return refusedInUse; }

    // Any value is stored; while open it is applied at once, and if the port refuses it the old
    // value is kept and ceSetBaudRate raised. A closed port applies it at the next open.
    void SetBaudRate(std::int32_t bitsPerSecond);
    std::int32_t GetBaudRate() const { return lineSettings.baudRate.load(std::memory_order_relaxed); }

    // Bytes received and not yet read. Raises cePortNotOpen, or ceQueryStatus when the device is
    // gone (unplugged adapter, closed other side).
    std::uint32_t BytesAvailable();
    // Reads up to `count` bytes into `buffer` (`count` bytes long) and returns how many arrived
    // within the read time-outs; 0 is a time-out, not an error. When fewer than `count` arrive,
    // buffer[result] is set to 0. Raises cePortNotOpen, or ceRead when the device is gone.
    std::uint32_t ReadBytes(unsigned char* buffer, std::uint32_t count);
    // Sends one byte. Raises cePortNotOpen, or ceWrite when the byte could not be handed to the
    // port within the write time-out or the device is gone.
    void WriteByte(std::uint8_t value);

private:
    friend class TPortWait; // waits on the port's descriptor

    std::atomic<bool> portOpen{false};
    TCommTimeouts timeouts;
    std::string portName = "COM1";
    TLineSettings lineSettings;
    int handle = -1;
    std::string devicePath;
    std::string deviceName;
    std::string deviceDescription;
    std::string openFailure;
    bool refusedInUse = false;
    std::unique_ptr<TPortLock> lock;
    // What the platform's file keeps of an open port beyond a descriptor (Windows: the handle
    // and the DCB with the fields copied from the port); unused on POSIX.
    std::unique_ptr<TPortSystemState> system;
};
