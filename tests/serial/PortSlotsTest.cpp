// SPDX-License-Identifier: MIT
// Which ports the sixteen slots listen on, from the system's SERIALCOMM list.
#include "PortSlots.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

Names Slots(Names firsts) {
    firsts.resize(portSlotCount);
    return firsts;
}

Names ComRange(int from, int to) {
    Names names;
    for (int n = from; n <= to; ++n)
        names.push_back("COM" + std::to_string(n));
    return names;
}

struct SlotRow {
    const char* name;
    std::optional<std::vector<TSerialCommEntry>> listed;
    Names slots;
};

TEST(PortSlotsTest, SlotsHoldTheSystemsPortsInComNumberOrder) {
    const SlotRow rows[] = {
        {"list unreadable: COM1..COM16", std::nullopt, ComRange(1, 16)},
        {"no ports: every slot empty", std::vector<TSerialCommEntry>{}, Slots({})},
        {"an adapter above COM16 is found",
         std::vector<TSerialCommEntry>{{"\\Device\\Serial0", "COM1"}, {"\\Device\\VCP0", "COM23"}},
         Slots({"COM1", "COM23"})},
        {"by number, not by text or registry order",
         std::vector<TSerialCommEntry>{
             {"\\Device\\VCP1", "COM10"}, {"\\Device\\Serial1", "COM2"}, {"\\Device\\VCP0", "COM9"}},
         Slots({"COM2", "COM9", "COM10"})},
        {"Bluetooth ports are never listened on, whatever the case",
         std::vector<TSerialCommEntry>{
             {"\\Device\\BthModem0", "COM4"}, {"\\device\\bthmodem1", "COM5"}, {"\\Device\\Serial0", "COM1"}},
         Slots({"COM1"})},
        {"names other than COMn after the numbered ones, in text order",
         std::vector<TSerialCommEntry>{
             {"\\Device\\com0com20", "CNCB0"}, {"\\Device\\com0com10", "CNCA0"}, {"\\Device\\Serial0", "COM3"}},
         Slots({"COM3", "CNCA0", "CNCB0"})},
        {"a name listed twice takes one slot; empty names none",
         std::vector<TSerialCommEntry>{
             {"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial9", "com1"}, {"\\Device\\Serial2", ""}},
         Slots({"COM1"})},
        {"COM0 and COM01 are not numbered ports",
         std::vector<TSerialCommEntry>{{"\\Device\\A", "COM01"}, {"\\Device\\B", "COM0"}, {"\\Device\\C", "COM7"}},
         Slots({"COM7", "COM0", "COM01"})},
    };
    for (const SlotRow& row : rows)
        EXPECT_EQ(PortSlotNames(row.listed), row.slots) << row.name;

    std::vector<TSerialCommEntry> many;
    for (int n = 40; n >= 1; --n)
        many.push_back({"\\Device\\Serial" + std::to_string(n), "COM" + std::to_string(n)});
    EXPECT_EQ(PortSlotNames(many), ComRange(1, 16)) << "more than sixteen ports: the lowest sixteen";
}

TEST(PortSlotsTest, EveryPlainNameIsOpenedInTheDeviceNamespace) {
    const std::pair<const char*, const char*> rows[] = {
        {"COM1", "\\\\.\\COM1"},
        {"COM10", "\\\\.\\COM10"},
        {"COM23", "\\\\.\\COM23"},
        {"\\\\.\\COM3", "\\\\.\\COM3"},
        {"", ""},
    };
    for (const auto& [name, path] : rows)
        EXPECT_EQ(PortDevicePath(name), path) << name;
}

} // namespace
