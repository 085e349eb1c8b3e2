// SPDX-License-Identifier: MIT
// The Windows port under Wine. scripts/test runs it inside scripts/wine-run with COM4..COM12
// mapped to the ports of a tavro-sim that plays a session on COM12, and COM13 mapped to a path
// that does not exist; TAVRO_TEST_SIM_PORTS=1 says so. Share mode 0 is not tested: Wine does
// not enforce it.
#include "CommPort.h"
#include "PortContract.h"
#include "PortSlotsWin32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

bool SimulatorPorts() {
    const char* given = std::getenv("TAVRO_TEST_SIM_PORTS");
    return given && std::string(given) == "1";
}

using port_contract::CaughtError;

class CommPortWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (!SimulatorPorts())
            GTEST_SKIP() << "needs the simulator's ports (TAVRO_TEST_SIM_PORTS=1, see scripts/test)";
    }
};

TEST_F(CommPortWin32Test, KeepsTheContractEveryPlatformKeeps) {
    for (const port_contract::Row& row : port_contract::Rows()) {
        SCOPED_TRACE(row.name);
        TCommPort port;
        row.check(port, "COM4", "COM17");
    }
}

struct FailedOpenRow {
    const char* name;
    const char* port;
    std::uint8_t code;
    std::uint32_t osError;
};

TEST_F(CommPortWin32Test, FailedOpensRaiseTheirStepsCodeWithTheSystemsError) {
    const FailedOpenRow rows[] = {
        {"no such port", "COM17", ceOpenPort, ERROR_FILE_NOT_FOUND},
        {"a device name that is no port", "NOSUCHPORT", ceOpenPort, ERROR_FILE_NOT_FOUND},
        // Wine opens a mapped port whose target is missing and fails its first serial call.
        {"a port whose device is gone", "COM13", ceGetState, ERROR_INVALID_FUNCTION},
    };
    for (const FailedOpenRow& row : rows) {
        TCommPort port;
        port.SetPortName(row.port);
        const ECommError error = CaughtError([&] { port.OpenCommPort(); });
        EXPECT_EQ(error.code, row.code) << row.name;
        EXPECT_EQ(error.osError, row.osError) << row.name;
        EXPECT_FALSE(port.IsOpen()) << row.name;
    }
}

// COM12 is above COM9, so it opens only through \\.\COM12; the simulator plays the timer there
// and sends a header unit first.
TEST_F(CommPortWin32Test, PortAboveCom9ReceivesAndAnswers) {
    TCommPort port;
    port.SetPortName("COM12");
    port.SetBaudRate(9600);
    port.OpenCommPort();
    EXPECT_EQ(port.GetDevicePath(), "\\\\.\\COM12");
    // The timer resends its group while no reply comes, so a header unit arrives whatever was
    // queued before the port opened.
    std::vector<unsigned char> bytes;
    const auto hasHeader = [&] {
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
            if (bytes[i] == 0xAB && bytes[i + 1] == 0xC0)
                return true;
        return false;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!hasHeader() && Clock::now() < deadline) {
        const std::uint32_t waiting = port.BytesAvailable();
        // One byte more than waits: the read then ends on its time-outs and marks its end.
        std::vector<unsigned char> chunk(waiting + 1, 0x55);
        const std::uint32_t got = port.ReadBytes(chunk.data(), waiting + 1);
        ASSERT_LE(got, waiting + 1);
        if (got <= waiting) {
            EXPECT_EQ(chunk[got], 0) << "the byte after the last one read";
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    }
    EXPECT_TRUE(hasHeader()) << bytes.size() << " bytes without a header unit";
    port.WriteByte(0xF0);
}

// Wine's SERIALCOMM lists COM12 as \Device\Serial11; listed once more as a Bluetooth modem, it
// must not be opened, although the device is there.
TEST_F(CommPortWin32Test, BluetoothPortIsNeverOpened) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    const char value[] = "COM12";
    ASSERT_EQ(RegSetValueExA(key, "\\Device\\BthModem0", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value),
              ERROR_SUCCESS);
    TCommPort port;
    port.SetPortName("COM12");
    const ECommError error = CaughtError([&] { port.OpenCommPort(); });
    RegDeleteValueA(key, "\\Device\\BthModem0");
    RegCloseKey(key);
    EXPECT_EQ(error.code, ceOpenPort);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_NE(port.GetOpenFailure().find("Bluetooth"), std::string::npos) << port.GetOpenFailure();
    port.OpenCommPort();
    EXPECT_TRUE(port.IsOpen()) << "the same port opens once it is no Bluetooth link";
}

TEST_F(CommPortWin32Test, TheSystemsPortsAreTheSlots) {
    const auto listed = ReadSerialComm();
    ASSERT_TRUE(listed.has_value());
    std::vector<std::string> expected;
    for (int n = 1; n <= 16; ++n)
        expected.push_back("COM" + std::to_string(n));
    EXPECT_EQ(SystemPortSlotNames(), expected) << "scripts/wine-run maps COM1..COM16, and nothing else";
}

} // namespace
