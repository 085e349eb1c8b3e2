// SPDX-License-Identifier: MIT
#include "PortNumbering.h"

#include <gtest/gtest.h>

namespace {

// An FTDI adapter with serial number `serial` in USB port `place`, under the kernel name `name`.
TPresentPort Usb(const std::string& name, const std::string& serial, const std::string& place = "1-4") {
    return {"/dev/" + name, TUsbIdentity{"0403", "6001", serial, place + ":1.0"}};
}
TPresentPort Builtin(const std::string& name) {
    return {"/dev/" + name, std::nullopt};
}

// Each row is a run: the ports present at each listing, and the numbers they get.
TEST(PortNumberingTest, NumbersStayWithTheirDevices) {
    const struct Row {
        const char* description;
        std::vector<std::vector<TPresentPort>> listings;
        std::vector<std::vector<std::uint32_t>> numbers;
    } rows[] = {
        {"the first listing numbers in the order given",
         {{Usb("ttyUSB0", "A"), Usb("ttyUSB1", "B", "1-5"), Builtin("ttyS0")}},
         {{1, 2, 3}}},
        {"a pulled adapter's number is not given to the others",
         {{Usb("ttyUSB0", "A"), Builtin("ttyS0")}, {Builtin("ttyS0")}},
         {{1, 2}, {2}}},
        {"an adapter back under its old name gets its number again",
         {{Usb("ttyUSB0", "A"), Builtin("ttyS0")}, {Builtin("ttyS0")}, {Usb("ttyUSB0", "A"), Builtin("ttyS0")}},
         {{1, 2}, {2}, {1, 2}}},
        {"an adapter back under another name gets its number again",
         {{Usb("ttyUSB0", "A"), Builtin("ttyS0")}, {Builtin("ttyS0")}, {Usb("ttyUSB1", "A"), Builtin("ttyS0")}},
         {{1, 2}, {2}, {1, 2}}},
        {"a device found later takes the lowest number never given out",
         {{Usb("ttyUSB0", "A"), Builtin("ttyS0")},
          {Builtin("ttyS0"), Usb("ttyACM0", "C", "1-6")},
          {Usb("ttyUSB0", "A"), Builtin("ttyS0"), Usb("ttyACM0", "C", "1-6")}},
         {{1, 2}, {2, 3}, {1, 2, 3}}},
        {"another adapter under a missing one's name is another device",
         {{Usb("ttyUSB0", "A"), Builtin("ttyS0")}, {Builtin("ttyS0")}, {Usb("ttyUSB0", "B"), Builtin("ttyS0")}},
         {{1, 2}, {2}, {3, 2}}},
        {"the same adapter in another USB port is another device",
         {{Usb("ttyUSB0", "A")}, {}, {Usb("ttyUSB0", "A", "1-5")}},
         {{1}, {}, {2}}},
        {"a port without a USB identity comes back by its name",
         {{Builtin("ttyS0"), Builtin("ttyS1")}, {Builtin("ttyS1")}, {Builtin("ttyS0"), Builtin("ttyS1")}},
         {{1, 2}, {2}, {1, 2}}},
        {"a name alone never takes a USB adapter's number",
         {{Usb("ttyUSB0", "A")}, {}, {Builtin("ttyUSB0")}},
         {{1}, {}, {2}}},
        {"ports of one identity (one adapter, one interface) keep their numbers in order",
         {{Usb("ttyUSB0", "A"), Usb("ttyUSB1", "A")},
          {Usb("ttyUSB1", "A")},
          {Usb("ttyUSB0", "A"), Usb("ttyUSB1", "A")}},
         {{1, 2}, {1}, {1, 2}}},
        {"numbers go on past 16",
         {{Builtin("ttyS0"), Builtin("ttyS1"), Builtin("ttyS2"), Builtin("ttyS3"), Builtin("ttyS4"), Builtin("ttyS5"),
           Builtin("ttyS6"), Builtin("ttyS7"), Builtin("ttyS8"), Builtin("ttyS9"), Builtin("ttyS10"), Builtin("ttyS11"),
           Builtin("ttyS12"), Builtin("ttyS13"), Builtin("ttyS14"), Builtin("ttyS15")},
          {Builtin("ttyS1"), Usb("ttyUSB0", "A")}},
         {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, {2, 17}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        ASSERT_EQ(row.listings.size(), row.numbers.size());
        TPortNumbering numbering;
        for (std::size_t i = 0; i < row.listings.size(); ++i) {
            EXPECT_EQ(numbering.Assign(row.listings[i]), row.numbers[i]) << "listing " << i + 1;
        }
    }
}

} // namespace
