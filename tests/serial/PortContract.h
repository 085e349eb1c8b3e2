// SPDX-License-Identifier: MIT
#pragma once

// What TCommPort promises on every platform, as one table that the Linux tests (a
// pseudo-terminal in TAVRO_PORT_DIR) and the Windows tests (a COM port that Wine maps to a
// pseudo-terminal) both run. Each row gets a fresh, closed port object and two names: one of a
// silent port that exists, one of a port that does not.
#include "CommPort.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace port_contract {

// The ECommError that `action` raises; a test failure when it raises none.
inline ECommError CaughtError(const std::function<void()>& action) {
    try {
        action();
    } catch (const ECommError& error) {
        return error;
    }
    ADD_FAILURE() << "no ECommError was raised";
    return ECommError{0, 0};
}

inline std::uint8_t CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ECommError& error) {
        return error.code;
    }
    return 0;
}

struct Row {
    const char* name;
    std::function<void(TCommPort& port, const std::string& present, const std::string& missing)> check;
};

inline const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"opening an open port and closing a closed one change nothing",
         [](TCommPort& port, const std::string& present, const std::string&) {
             port.SetPortName(present);
             port.OpenCommPort();
             EXPECT_EQ(CodeOf([&] { port.OpenCommPort(); }), 0);
             EXPECT_TRUE(port.IsOpen());
             port.CloseCommPort();
             EXPECT_EQ(CodeOf([&] { port.CloseCommPort(); }), 0);
             EXPECT_FALSE(port.IsOpen());
         }},
        {"a missing port raises 8, and the same object opens a port later",
         [](TCommPort& port, const std::string& present, const std::string& missing) {
             port.SetPortName(missing);
             EXPECT_EQ(CodeOf([&] { port.OpenCommPort(); }), ceOpenPort);
             EXPECT_FALSE(port.IsOpen());
             port.SetPortName(present);
             port.OpenCommPort();
             EXPECT_TRUE(port.IsOpen());
         }},
        {"the name cannot change while open (6) and stays",
         [](TCommPort& port, const std::string& present, const std::string& missing) {
             port.SetPortName(present);
             port.OpenCommPort();
             EXPECT_EQ(CodeOf([&] { port.SetPortName(missing); }), ceNameWhileOpen);
             EXPECT_EQ(port.GetPortName(), present);
         }},
        {"a closed port raises 7 for every transfer",
         [](TCommPort& port, const std::string&, const std::string&) {
             unsigned char buffer[4] = {};
             EXPECT_EQ(CodeOf([&] { port.BytesAvailable(); }), cePortNotOpen);
             EXPECT_EQ(CodeOf([&] { port.ReadBytes(buffer, sizeof buffer); }), cePortNotOpen);
             EXPECT_EQ(CodeOf([&] { port.WriteByte(0xFA); }), cePortNotOpen);
         }},
        {"a baud rate given while closed is stored and kept at the open",
         [](TCommPort& port, const std::string& present, const std::string&) {
             port.SetBaudRate(19200);
             EXPECT_EQ(port.GetBaudRate(), 19200);
             port.SetPortName(present);
             port.OpenCommPort();
             EXPECT_EQ(port.GetBaudRate(), 19200);
             port.SetBaudRate(9600);
             EXPECT_EQ(port.GetBaudRate(), 9600);
         }},
        {"a read of a silent port returns 0 within its time-outs and marks the end",
         [](TCommPort& port, const std::string& present, const std::string&) {
             port.SetPortName(present);
             port.OpenCommPort();
             EXPECT_EQ(port.BytesAvailable(), 0u);
             unsigned char buffer[10];
             std::fill(std::begin(buffer), std::end(buffer), 0x55);
             EXPECT_EQ(port.ReadBytes(buffer, sizeof buffer), 0u);
             EXPECT_EQ(buffer[0], 0);
             EXPECT_EQ(buffer[1], 0x55) << "nothing written past the end mark";
             EXPECT_EQ(CodeOf([&] { port.WriteByte(0xFA); }), 0);
         }},
    };
    return rows;
}

} // namespace port_contract
