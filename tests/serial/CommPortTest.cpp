// SPDX-License-Identifier: MIT
#include "CommPort.h"

#include "CommPortPosixTesting.h"
#include "ForeignProgram.h"
#include "LineSpeedProbe.h"
#include "PortContract.h"
#include "PortLock.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>
#include <utility>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

using port_contract::CaughtError;

std::chrono::milliseconds TimeOf(const std::function<void()>& action) {
    const auto start = Clock::now();
    action();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// Collects `count` bytes through the port as the receiver thread does: ask, then read.
std::vector<unsigned char> ReadThroughPort(TCommPort& port, std::size_t count, std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    std::vector<unsigned char> bytes;
    while (bytes.size() < count && Clock::now() < deadline) {
        // With nothing waiting, a one-byte read waits for the next byte (or its time-out).
        const std::uint32_t waiting = std::max<std::uint32_t>(port.BytesAvailable(), 1);
        std::vector<unsigned char> chunk(waiting);
        chunk.resize(port.ReadBytes(chunk.data(), waiting));
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    }
    return bytes;
}

class CommPortTest : public ::testing::Test {
protected:
    std::unique_ptr<PseudoTerminal> Attach(int number) {
        return std::make_unique<PseudoTerminal>(portDir.path, number);
    }
    // A port on COMn at 9600, opened.
    std::unique_ptr<TCommPort> OpenPort(int number) {
        auto port = std::make_unique<TCommPort>();
        port->SetPortName("COM" + std::to_string(number));
        port->SetBaudRate(9600);
        port->OpenCommPort();
        return port;
    }

    TestPortDir portDir;
};

TEST_F(CommPortTest, OpenAndCloseAreIdempotent) {
    const auto device = Attach(1);
    TCommPort port;
    EXPECT_EQ(port.GetPortName(), "COM1");
    EXPECT_EQ(port.GetBaudRate(), 4800);
    EXPECT_FALSE(port.IsOpen());
    port.CloseCommPort();
    EXPECT_FALSE(port.IsOpen());

    port.OpenCommPort();
    port.OpenCommPort();
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.GetDevicePath(), device->link.string());
    port.CloseCommPort();
    port.CloseCommPort();
    EXPECT_FALSE(port.IsOpen());

    port.OpenCommPort(); // the same object opens again
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(CommPortTest, FailedOpenRaises8AndLeavesNothingOpen) {
    { std::ofstream(portDir.path / "COM2") << "not a terminal"; }
    std::filesystem::create_directory(portDir.path / "COM3");
    std::filesystem::create_symlink(portDir.path / "nowhere", portDir.path / "COM4");
    const struct Row {
        std::string name;
        int osError;
    } rows[] = {
        {"COM5", ENOENT},                              // no link at all
        {"COM4", ENOENT},                              // a link to nothing
        {"COM2", ENOTTY},                              // a plain file
        {"COM3", EISDIR},                              // a folder
        {"COM0", ENOENT},                              // not a port name
        {"", ENOENT},                                  // the empty name
        {"COM1/../COM2", ENOENT},                      // a name that tries to be a path
        {(portDir.path / "missing").string(), ENOENT}, // a device path that does not exist
    };
    const std::size_t descriptorsBefore = OpenDescriptors();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TCommPort port;
        port.SetPortName(row.name);
        const ECommError error = CaughtError([&] { port.OpenCommPort(); });
        EXPECT_EQ(error.code, ceOpenPort);
        EXPECT_EQ(error.osError, static_cast<std::uint32_t>(row.osError));
        EXPECT_FALSE(port.IsOpen());
    }
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
}

TEST_F(CommPortTest, PortThatAppearsLaterOpensWithTheSameObject) {
    TCommPort port;
    port.SetPortName("COM5");
    EXPECT_EQ(CaughtError([&] { port.OpenCommPort(); }).code, ceOpenPort);
    EXPECT_FALSE(port.IsOpen());

    const auto device = Attach(5); // the adapter is plugged in
    port.OpenCommPort();
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(CommPortTest, SecondOpenOfAHeldPortFails) {
    const auto device = Attach(1);
    const auto holder = OpenPort(1);

    const struct Row {
        const char* who;
        std::function<int()> tryOpen; // the osError of the failed open, or -1 if it opened
    } rows[] = {
        {"another port object",
         [] {
             TCommPort second;
             try {
                 second.OpenCommPort();
             } catch (const ECommError& error) {
                 return error.code == ceOpenPort ? static_cast<int>(error.osError) : -2;
             }
             return -1;
         }},
        {"another process",
         [] {
             const pid_t child = fork();
             if (child == 0) {
                 TCommPort second;
                 try {
                     second.OpenCommPort();
                 } catch (const ECommError& error) {
                     _exit(error.code == ceOpenPort ? static_cast<int>(error.osError) : 254);
                 }
                 _exit(255);
             }
             int status = 0;
             waitpid(child, &status, 0);
             const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 253;
             return code == 255 ? -1 : code;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.who);
        const int osError = row.tryOpen();
        EXPECT_TRUE(osError == EWOULDBLOCK || osError == EBUSY) << "got " << osError;
    }

    holder->CloseCommPort();
    TCommPort after;
    after.OpenCommPort();
    EXPECT_TRUE(after.IsOpen());
}

// Root passes TIOCEXCL by, so the ordinary user is played by a child that gives up root.
TEST_F(CommPortTest, OtherUsersAreTurnedAwayOnlyWhileThePortIsOpen) {
    const auto device = Attach(1);
    const std::string slavePath = fs::read_symlink(device->link).string();
    ASSERT_EQ(chmod(slavePath.c_str(), 0666), 0);
    const auto openAsOrdinaryUser = [&] {
        const pid_t child = fork();
        if (child == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                _exit(253);
            }
            TCommPort other;
            other.SetPortName(slavePath);
            try {
                other.OpenCommPort();
            } catch (const ECommError& error) {
                _exit(error.code == ceOpenPort ? static_cast<int>(error.osError) : 254);
            }
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 252;
    };

    const auto port = OpenPort(1);
    EXPECT_EQ(openAsOrdinaryUser(), EBUSY) << "while held";
    port->CloseCommPort();
    EXPECT_EQ(openAsOrdinaryUser(), 0) << "after close";
}

TEST_F(CommPortTest, NameCannotChangeWhileOpen) {
    const auto device = Attach(1);
    const auto port = OpenPort(1);
    const ECommError error = CaughtError([&] { port->SetPortName("COM2"); });
    EXPECT_EQ(error.code, ceNameWhileOpen);
    EXPECT_EQ(port->GetPortName(), "COM1");
    EXPECT_TRUE(port->IsOpen());

    port->CloseCommPort();
    port->SetPortName("COM2");
    EXPECT_EQ(port->GetPortName(), "COM2");
}

TEST_F(CommPortTest, OperationsOnAClosedPortRaise7) {
    const auto device = Attach(1);
    TCommPort neverOpened;
    const auto reopened = OpenPort(1);
    reopened->CloseCommPort();

    unsigned char buffer[4] = {1, 2, 3, 4};
    const struct Row {
        const char* operation;
        std::function<void(TCommPort&)> call;
    } rows[] = {
        {"BytesAvailable", [](TCommPort& port) { port.BytesAvailable(); }},
        {"ReadBytes", [&](TCommPort& port) { port.ReadBytes(buffer, sizeof buffer); }},
        {"WriteByte", [](TCommPort& port) { port.WriteByte(0xFA); }},
    };
    for (TCommPort* port : {&neverOpened, reopened.get()}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(row.operation);
            EXPECT_EQ(CaughtError([&] { row.call(*port); }).code, cePortNotOpen);
        }
    }
    EXPECT_EQ(buffer[0], 1) << "a refused read wrote into the buffer";
    EXPECT_TRUE(device->Receive(1, 50ms).empty());
}

TEST_F(CommPortTest, LineIsRawEightNoneOneWithoutFlowControl) {
    const auto device = Attach(1);
    const auto port = OpenPort(1);
    termios line{};
    ASSERT_EQ(tcgetattr(device->slave, &line), 0);

    const struct Row {
        const char* what;
        bool holds;
    } rows[] = {
        {"8 data bits", (line.c_cflag & CSIZE) == CS8},
        {"no parity", (line.c_cflag & PARENB) == 0 && (line.c_iflag & INPCK) == 0},
        {"one stop bit", (line.c_cflag & CSTOPB) == 0},
        {"no hardware flow control", (line.c_cflag & CRTSCTS) == 0},
        {"no software flow control", (line.c_iflag & (IXON | IXOFF | IXANY)) == 0},
        {"receiver on, modem lines ignored", (line.c_cflag & (CREAD | CLOCAL)) == (CREAD | CLOCAL)},
        {"no line editing, echo or signals", (line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0},
        {"no input translation", (line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IGNBRK | PARMRK)) == 0},
        {"no output processing", (line.c_oflag & OPOST) == 0},
        {"9600 bits per second", OutputBitsPerSecond(device->slave) == 9600},
    };
    for (const auto& row : rows) {
        EXPECT_TRUE(row.holds) << row.what;
    }
}

TEST_F(CommPortTest, BaudRateIsStoredWhileClosedAndAppliedWhileOpen) {
    const auto device = Attach(1);
    // Rates of the settings dialog, with and without a B-constant of their own.
    for (const std::int32_t rate : {110, 9600, 14400, 19200, 56000, 115200, 128000, 256000}) {
        SCOPED_TRACE(rate);
        TCommPort port;
        port.SetBaudRate(rate);
        EXPECT_EQ(port.GetBaudRate(), rate);
        port.OpenCommPort();
        EXPECT_EQ(OutputBitsPerSecond(device->slave), static_cast<std::uint32_t>(rate)) << "at open";

        port.SetBaudRate(2400);
        EXPECT_EQ(OutputBitsPerSecond(device->slave), 2400u) << "standard rate while open";
        port.SetBaudRate(rate);
        EXPECT_EQ(OutputBitsPerSecond(device->slave), static_cast<std::uint32_t>(rate)) << "while open";
        EXPECT_EQ(port.GetBaudRate(), rate);
    }
}

TEST_F(CommPortTest, RefusedBaudRateKeepsTheOldOne) {
    const auto device = Attach(1);
    const std::size_t descriptorsBefore = OpenDescriptors();
    for (const std::int32_t rate : {0, -9600}) {
        SCOPED_TRACE(rate);
        const auto port = OpenPort(1);
        const ECommError whileOpen = CaughtError([&] { port->SetBaudRate(rate); });
        EXPECT_EQ(whileOpen.code, ceSetBaudRate);
        EXPECT_EQ(whileOpen.osError, static_cast<std::uint32_t>(EINVAL));
        EXPECT_EQ(port->GetBaudRate(), 9600);
        EXPECT_EQ(OutputBitsPerSecond(device->slave), 9600u);
        EXPECT_TRUE(port->IsOpen());
        port->CloseCommPort();

        port->SetBaudRate(rate); // stored while closed, refused at the next open
        EXPECT_EQ(port->GetBaudRate(), rate);
        EXPECT_EQ(CaughtError([&] { port->OpenCommPort(); }).code, ceSetState);
        EXPECT_FALSE(port->IsOpen());
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    }
    const auto after = OpenPort(1); // the failed opens left the port free
    EXPECT_TRUE(after->IsOpen());
}

TEST_F(CommPortTest, EveryByteValuePassesUnchangedBothWays) {
    const auto device = Attach(1);
    const auto port = OpenPort(1);
    // All 256 values, then the ones a cooked or flow-controlled line would eat or translate.
    std::vector<unsigned char> bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    for (unsigned char special : {0x0D, 0x0A, 0x0D, 0x00, 0x11, 0x13, 0x03, 0x1A, 0x7F, 0xFF, 0x00}) {
        bytes.push_back(special);
    }

    device->Send(bytes);
    EXPECT_EQ(ReadThroughPort(*port, bytes.size(), 2s), bytes);

    for (const unsigned char byte : bytes) {
        port->WriteByte(byte);
    }
    EXPECT_EQ(device->Receive(bytes.size(), 2s), bytes);
}

TEST_F(CommPortTest, ReadReturnsWhatIsWaitingWithinTheTimeouts) {
    const auto device = Attach(1);
    const auto port = OpenPort(1);
    constexpr unsigned char untouched = 0xEE;
    const struct Row {
        std::uint32_t waiting;
        std::uint32_t count;
        std::chrono::milliseconds atLeast;
        std::chrono::milliseconds below;
    } rows[] = {
        {4, 10, 0ms, 200ms},     // short read ends 15 ms after the last byte
        {10, 10, 0ms, 200ms},    // full read returns at once
        {12, 10, 0ms, 200ms},    // the rest stays queued
        {0, 10, 250ms, 1000ms},  // nothing comes: 250 ms plus 1 ms per byte
        {0, 200, 450ms, 1200ms}, // the total grows with the count
        {0, 0, 0ms, 50ms},       // nothing asked, nothing waited for
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.waiting << " waiting, " << row.count << " asked");
        std::vector<unsigned char> sent(row.waiting);
        std::iota(sent.begin(), sent.end(), 1);
        device->Send(sent);
        if (row.waiting > 0) {
            // Wait for the bytes to cross the pseudo-terminal before timing the read.
            const auto deadline = Clock::now() + 2s;
            while (port->BytesAvailable() < row.waiting && Clock::now() < deadline) {
                std::this_thread::yield();
            }
            ASSERT_EQ(port->BytesAvailable(), row.waiting);
        }
        std::vector<unsigned char> buffer(row.count + 1, untouched);
        std::uint32_t read = 0;
        const auto took = TimeOf([&] { read = port->ReadBytes(buffer.data(), row.count); });

        const std::uint32_t expected = std::min(row.waiting, row.count);
        EXPECT_EQ(read, expected);
        EXPECT_TRUE(std::equal(sent.begin(), sent.begin() + expected, buffer.begin()));
        if (expected < row.count) {
            EXPECT_EQ(buffer[expected], 0) << "no zero byte after a short read";
            EXPECT_TRUE(
                std::all_of(buffer.begin() + expected + 1, buffer.end(), [](auto b) { return b == untouched; }));
        } else {
            EXPECT_EQ(buffer[row.count], untouched) << "a full read wrote past the count";
        }
        EXPECT_GE(took, row.atLeast);
        EXPECT_LT(took, row.below);

        std::vector<unsigned char> rest(row.waiting);
        EXPECT_EQ(port->ReadBytes(rest.data(), row.waiting - expected), row.waiting - expected);
    }
}

TEST_F(CommPortTest, AQueueFullOfBytesArrivesWholeAndInOrder) {
    const auto device = Attach(1);
    const auto port = OpenPort(1);
    std::vector<unsigned char> bytes(TCommPort::receiveQueueBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + i / 256);
    }
    // A pseudo-terminal buffers only about 18 KiB and then makes its writer wait, so the device
    // sends while the port reads.
    auto sending = std::async(std::launch::async, [&] { device->Send(bytes); });
    EXPECT_EQ(ReadThroughPort(*port, bytes.size(), 5s), bytes);
    sending.get();
}

TEST_F(CommPortTest, UnpluggedDeviceRaisesPromptly) {
    unsigned char buffer[16] = {};
    const struct Row {
        const char* operation;
        std::uint8_t code;
        std::function<void(TCommPort&)> call;
    } rows[] = {
        {"BytesAvailable", ceQueryStatus, [](TCommPort& port) { port.BytesAvailable(); }},
        {"ReadBytes", ceRead, [&](TCommPort& port) { port.ReadBytes(buffer, sizeof buffer); }},
        {"WriteByte", ceWrite, [](TCommPort& port) { port.WriteByte(0xFA); }},
    };
    for (const bool bytesPending : {false, true}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << row.operation << (bytesPending ? " with bytes pending" : ""));
            auto device = Attach(1);
            const auto port = OpenPort(1);
            if (bytesPending) {
                device->Send({0xAB, 0xC0});
            }
            device->Unplug();
            // Bytes not read before the loss are gone with the device; a pass may still see
            // them, but the loss must show within a few calls and never as endless zeros.
            ECommError error{0, 0};
            const auto took = TimeOf([&] {
                for (int call = 0; call < 3 && error.code == 0; ++call) {
                    try {
                        row.call(*port);
                    } catch (const ECommError& raised) {
                        error = raised;
                    }
                }
            });
            EXPECT_EQ(error.code, row.code);
            EXPECT_EQ(error.osError, static_cast<std::uint32_t>(EIO));
            EXPECT_LT(took, 200ms);
            EXPECT_TRUE(port->IsOpen()) << "the owner decides when to close";
            port->CloseCommPort();
            EXPECT_FALSE(port->IsOpen());
        }
    }
}

TEST_F(CommPortTest, UnplugDuringAReadEndsTheRead) {
    auto device = Attach(1);
    const auto port = OpenPort(1);
    // Asking for 4000 bytes allows the read 4.25 s; the loss must end it long before, whether
    // it comes before or while the read waits.
    std::vector<unsigned char> buffer(4000);
    auto reading = std::async(std::launch::async, [&] {
        return TimeOf([&] {
            EXPECT_EQ(
                CaughtError([&] { port->ReadBytes(buffer.data(), static_cast<std::uint32_t>(buffer.size())); }).code,
                ceRead);
        });
    });
    device->Unplug();
    ASSERT_EQ(reading.wait_for(2s), std::future_status::ready);
    EXPECT_LT(reading.get(), 1s);
}

TEST_F(CommPortTest, ReplugAfterUnplugOpensAgain) {
    auto device = Attach(1);
    const auto port = OpenPort(1);
    device.reset(); // pulled, and its name gone
    EXPECT_EQ(CaughtError([&] { port->BytesAvailable(); }).code, ceQueryStatus);
    port->CloseCommPort();
    EXPECT_EQ(CaughtError([&] { port->OpenCommPort(); }).code, ceOpenPort);

    device = Attach(1); // plugged in again
    port->OpenCommPort();
    device->Send({0x42});
    EXPECT_EQ(ReadThroughPort(*port, 1, 2s), std::vector<unsigned char>{0x42});
}

TEST_F(CommPortTest, WriteThatCannotBeHandedOverRaisesInsteadOfSucceeding) {
    const auto device = Attach(1);
    const auto port = OpenPort(1);
    // The device reads nothing, so the line's buffers fill up. Every write that reports success
    // must have put its byte on the line, and the first that cannot must raise after its
    // time-out of 251 ms.
    std::size_t accepted = 0;
    ECommError error{0, 0};
    std::chrono::milliseconds lastCall{};
    const auto deadline = Clock::now() + 30s;
    while (error.code == 0 && Clock::now() < deadline) {
        lastCall = TimeOf([&] {
            try {
                port->WriteByte(static_cast<std::uint8_t>(accepted));
                ++accepted;
            } catch (const ECommError& raised) {
                error = raised;
            }
        });
    }
    EXPECT_EQ(error.code, ceWrite);
    EXPECT_EQ(error.osError, static_cast<std::uint32_t>(ETIMEDOUT));
    EXPECT_GE(lastCall, 250ms);
    EXPECT_LT(lastCall, 1000ms);
    EXPECT_TRUE(port->IsOpen());

    const auto arrived = device->Receive(accepted, 5s);
    ASSERT_EQ(arrived.size(), accepted);
    for (std::size_t i = 0; i < arrived.size(); ++i) {
        ASSERT_EQ(arrived[i], static_cast<unsigned char>(i)) << "at " << i;
    }
    EXPECT_TRUE(device->Receive(1, 100ms).empty()) << "the refused byte went out after all";
    port->WriteByte(0xFA); // drained, the line takes bytes again
    EXPECT_EQ(device->Receive(1, 2s), std::vector<unsigned char>{0xFA});
}

// A USB adapter that hangs keeps close() waiting in the kernel; the caller (the window, closing
// fifteen ports at once) must not wait with it.
TEST_F(CommPortTest, CloseWaitsForTheDeviceOnlySoLong) {
    enum class Close { atOnce, failsAtOnce, hangs };
    const struct Row {
        const char* description;
        Close close;
        std::uint8_t raised; // 0: nothing
    } rows[] = {
        {"closes at once", Close::atOnce, 0},
        {"fails at once", Close::failsAtOnce, ceClosePort},
        {"hangs", Close::hangs, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        const auto device = Attach(1);
        const fs::path lockFile = portDir.lockDir.path / LockFileName(fs::read_symlink(device->link).string());
        const std::size_t descriptorsBefore = OpenDescriptors();
        const auto port = OpenPort(1);
        ASSERT_TRUE(fs::exists(lockFile));

        std::promise<void> letGo;
        std::shared_future<void> kernelLetsGo = letGo.get_future().share();
        std::promise<void> closedPromise;
        auto closed = closedPromise.get_future();
        std::atomic<bool> lockKeptUntilClose{false};
        comm_port_testing::SetCloseCall([&, kernelLetsGo](int fd) {
            if (row.close == Close::hangs) {
                kernelLetsGo.wait_for(10s); // bounded, so that a close that waits for it fails the test
            }
            lockKeptUntilClose = fs::exists(lockFile);
            const int result = ::close(fd);
            closedPromise.set_value();
            if (row.close == Close::failsAtOnce) {
                errno = EIO;
                return -1;
            }
            return result;
        });
        std::uint8_t raised = 0;
        const auto took = TimeOf([&] {
            try {
                port->CloseCommPort();
            } catch (const ECommError& error) {
                raised = error.code;
                EXPECT_EQ(error.osError, static_cast<std::uint32_t>(EIO));
            }
        });
        EXPECT_EQ(raised, row.raised);
        EXPECT_FALSE(port->IsOpen());
        EXPECT_LT(took, TCommPort::closePatience + 500ms);

        if (row.close == Close::hangs) {
            EXPECT_GE(took, TCommPort::closePatience);
            EXPECT_TRUE(fs::exists(lockFile)) << "our lock went before the device";
            TCommPort again;
            const ECommError error = CaughtError([&] { again.OpenCommPort(); });
            EXPECT_EQ(error.code, ceOpenPort);
            EXPECT_EQ(error.osError, static_cast<std::uint32_t>(ETIMEDOUT));
            EXPECT_EQ(again.GetOpenFailure(), "does not respond (a hanging adapter? unplug it and plug it in again)");
            letGo.set_value();
            ASSERT_EQ(closed.wait_for(10s), std::future_status::ready);
        }
        // Once the late close has ended, the device opens again.
        TCommPort after;
        const auto deadline = Clock::now() + 10s;
        while (!after.IsOpen() && Clock::now() < deadline) {
            try {
                after.OpenCommPort();
            } catch (const ECommError& error) {
                ASSERT_EQ(error.osError, static_cast<std::uint32_t>(ETIMEDOUT));
                ASSERT_EQ(row.close, Close::hangs);
                std::this_thread::yield();
            }
        }
        EXPECT_TRUE(after.IsOpen());
        EXPECT_TRUE(lockKeptUntilClose) << "our lock went before the device";
        comm_port_testing::SetCloseCall(nullptr);
        after.CloseCommPort();
        EXPECT_FALSE(fs::exists(lockFile)) << "our lock stayed behind";
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    }
}

// The status line reads these while the port is opened, re-rated and closed elsewhere; run
// under ThreadSanitizer (-DTAVRO_TSAN=ON) this also shows that the reads are race-free.
TEST_F(CommPortTest, OpenFlagAndBaudRateCanBeReadFromAnotherThread) {
    const auto device = Attach(1);
    TCommPort port;
    port.SetBaudRate(9600);
    std::atomic<bool> done{false};
    auto watching = std::async(std::launch::async, [&] {
        std::size_t oddRates = 0;
        std::size_t seenOpen = 0;
        while (!done.load()) {
            const std::int32_t rate = port.GetBaudRate();
            oddRates += (rate != 9600 && rate != 19200) ? 1 : 0;
            seenOpen += port.IsOpen() ? 1 : 0;
        }
        return std::pair{oddRates, seenOpen};
    });
    for (int round = 0; round < 200; ++round) {
        port.OpenCommPort();
        port.SetBaudRate(round % 2 == 0 ? 19200 : 9600);
        port.CloseCommPort();
    }
    done = true;
    EXPECT_EQ(watching.get().first, 0u);
}

// The line as a terminal program leaves it: 115200 bits per second, line editing and echo.
void SetForeignLine(int fd) {
    termios line{};
    ASSERT_EQ(tcgetattr(fd, &line), 0);
    cfsetispeed(&line, B115200);
    cfsetospeed(&line, B115200);
    line.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &line), 0);
}

bool KeepsForeignLine(int fd) {
    termios line{};
    return tcgetattr(fd, &line) == 0 && cfgetospeed(&line) == B115200 && (line.c_lflag & ICANON) != 0;
}

bool Exclusive(int fd) {
    int exclusive = -1;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Hdb(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// Another program has the pseudo-terminal (its line set its own way) and may have announced
// it with a lock file.
TEST_F(CommPortTest, LockFilesOfOtherProgramsAreRespected) {
    const ForeignProgram minicom;
    const pid_t ended = EndedProcessId();
    const fs::path unwritable = portDir.lockDir.path / "file" / "locks";
    std::ofstream(portDir.lockDir.path / "file") << "";
    const struct Row {
        const char* description;
        std::optional<std::string> lock; // the lock file's content; nothing: no lock file
        bool opens;
        std::string failure; // "%s" stands for the lock file's path
        bool lockFolderUnwritable = false;
    } rows[] = {
        {"no lock file", std::nullopt, true, ""},
        {"a live program's lock", Hdb(minicom.pid), false,
         "in use by minicom (PID " + std::to_string(minicom.pid) + ")"},
        {"a bare decimal PID", std::to_string(minicom.pid), false,
         "in use by minicom (PID " + std::to_string(minicom.pid) + ")"},
        {"a lock of a program that has ended", Hdb(ended), true, ""},
        {"a lock with a binary PID", std::string("\x01\x02\0\0", 4), false, "in use by another program (lock file %s)"},
        {"a lock with garbage", "locked\n", false, "in use by another program (lock file %s)"},
        {"a lock folder we cannot write", std::nullopt, true, "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        const auto device = Attach(1);
        SetForeignLine(device->slave);
        const std::string pts = fs::read_symlink(device->link).string();
        const fs::path lockFile = portDir.lockDir.path / LockFileName(pts);
        ASSERT_EQ(lockFile.filename().string().rfind("LCK..pts_", 0), 0u);
        if (row.lock) {
            std::ofstream(lockFile, std::ios::binary) << *row.lock;
        }
        if (row.lockFolderUnwritable) {
            setenv("TAVRO_LOCK_DIR", unwritable.c_str(), 1);
        }

        TCommPort port;
        std::string failure;
        try {
            port.OpenCommPort();
        } catch (const ECommError& error) {
            EXPECT_EQ(error.code, ceOpenPort);
            EXPECT_EQ(error.osError, static_cast<std::uint32_t>(EBUSY));
            failure = port.GetOpenFailure();
        }
        EXPECT_EQ(port.IsOpen(), row.opens);
        if (row.opens) {
            EXPECT_TRUE(port.GetOpenFailure().empty());
            EXPECT_EQ(port.GetDeviceName(), pts);
            EXPECT_EQ(port.GetDeviceDescription(), "");
            EXPECT_TRUE(Exclusive(device->slave));
            EXPECT_EQ(ReadAll(lockFile), row.lockFolderUnwritable ? "" : Hdb(getpid())) << "our lock while open";
            port.CloseCommPort();
            EXPECT_FALSE(fs::exists(lockFile)) << "our lock after close";
        } else {
            std::string expected = row.failure;
            if (const auto at = expected.find("%s"); at != std::string::npos) {
                expected.replace(at, 2, lockFile.string());
            }
            EXPECT_EQ(failure, expected);
            EXPECT_TRUE(KeepsForeignLine(device->slave)) << "the other program's line was changed";
            EXPECT_FALSE(Exclusive(device->slave));
            EXPECT_EQ(ReadAll(lockFile), *row.lock) << "the other program's lock was changed";
            fs::remove(lockFile);
        }
        setenv("TAVRO_LOCK_DIR", portDir.lockDir.path.c_str(), 1);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(portDir.lockDir.path), {}), 1) << "only the regular file is left";
}

// Kernel drivers take a terminal over with a line discipline of their own (PPP, Bluetooth
// HCI, CAN); the null discipline plays one here.
TEST_F(CommPortTest, TerminalOfAKernelDriverIsLeftAlone) {
    const auto device = Attach(1);
    SetForeignLine(device->slave);
    int discipline = 27; // N_NULL
    if (ioctl(device->slave, TIOCSETD, &discipline) != 0) {
        GTEST_SKIP() << "this kernel has no null line discipline: " << std::strerror(errno);
    }
    TCommPort port;
    const ECommError error = CaughtError([&] { port.OpenCommPort(); });
    EXPECT_EQ(error.code, ceOpenPort);
    EXPECT_EQ(error.osError, static_cast<std::uint32_t>(EBUSY));
    EXPECT_EQ(port.GetOpenFailure(), "taken over by a kernel driver (null)");
    EXPECT_EQ(CommErrorReason(error, "COM1", port.GetDevicePath(), port.GetOpenFailure()),
              "COM1 (" + device->link.string() + "): taken over by a kernel driver (null)");
    EXPECT_FALSE(Exclusive(device->slave));
    EXPECT_TRUE(std::filesystem::is_empty(portDir.lockDir.path)) << "our lock stayed behind";

    discipline = 0; // N_TTY: the driver has let go (the null discipline hides the line settings)
    ASSERT_EQ(ioctl(device->slave, TIOCSETD, &discipline), 0);
    EXPECT_TRUE(KeepsForeignLine(device->slave));
    port.OpenCommPort();
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(CommPortTest, ReasonNamesThePortTheDeviceAndTheCause) {
    const std::string usb = "/dev/ttyUSB0";
    const struct Row {
        ECommError error;
        std::string devicePath;
        std::string reason;
        std::string cause = {};
    } rows[] = {
        {{ceOpenPort, EACCES},
         usb,
         "COM1 (/dev/ttyUSB0): permission denied \u2014 add your user to the 'dialout' group and log in again"},
        {{ceOpenPort, EWOULDBLOCK}, usb, "COM1 (/dev/ttyUSB0): in use by another program"},
        {{ceOpenPort, ENOENT}, "", "COM1: no such serial port"},
        {{ceQueryStatus, EIO},
         usb,
         "COM1 (/dev/ttyUSB0): querying the port failed: input/output error (device unplugged?)"},
        {{ceSetBaudRate, EINVAL},
         usb,
         "COM1 (/dev/ttyUSB0): the baud rate could not be set: not supported by the port"},
        {{ceRead, ENOMEM}, usb, "COM1 (/dev/ttyUSB0): reading failed: cannot allocate memory"},
        {{ceOpenPort, EBUSY}, usb, "COM1 (/dev/ttyUSB0): in use by minicom (PID 4711)", "in use by minicom (PID 4711)"},
        {{ceOpenPort, ETIMEDOUT}, usb, "COM1 (/dev/ttyUSB0): timed out"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CommErrorReason(row.error, "COM1", row.devicePath, row.cause), row.reason);
    }
}

TEST_F(CommPortTest, ReasonOfARealFailedOpen) {
    { std::ofstream(portDir.path / "COM2") << "not a terminal"; }
    TCommPort port;
    port.SetPortName("COM2");
    const ECommError error = CaughtError([&] { port.OpenCommPort(); });
    EXPECT_EQ(CommErrorReason(error, port.GetPortName(), port.GetDevicePath()),
              "COM2 (" + (portDir.path / "COM2").string() + "): not a serial port");
}

} // namespace

namespace {

TEST_F(CommPortTest, KeepsTheContractEveryPlatformKeeps) {
    const auto device = Attach(5);
    for (const port_contract::Row& row : port_contract::Rows()) {
        SCOPED_TRACE(row.name);
        TCommPort port;
        row.check(port, "COM5", "COM6");
    }
}

} // namespace
