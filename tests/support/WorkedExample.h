// SPDX-License-Identifier: MIT
// The timer's worked example of one group (five units) and the report the program makes of
// it, shared by the decoder, tool, window and thread tests.
#pragma once

#include <string>
#include <vector>

namespace example {

// Header unit; group number 007; date 2008-03-05, a Wednesday; lap 1 of 0:01'23.45; end
// record with the check value 00 81 13 16.
inline const std::vector<unsigned char> groupBytes{0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA, 0xAB, 0x01,
                                                   0xE0, 0x07, 0x00, 0x00, 0x00, 0x00, 0xAB, 0x01, 0x10, 0x00,
                                                   0x00, 0x80, 0x30, 0x53, 0xAB, 0x02, 0x20, 0x01, 0x00, 0x01,
                                                   0x23, 0x45, 0xAB, 0x0F, 0xF0, 0x00, 0x00, 0x81, 0x13, 0x16};

// The same group with a wrong check value.
inline std::vector<unsigned char> badCheckBytes() {
    std::vector<unsigned char> bytes = groupBytes;
    bytes.back() ^= 0x01;
    return bytes;
}

// The report's lines, without their line ends.
inline const std::vector<std::string> reportLines{"MCH:       \t007",
                                                  "",
                                                  "Record Date:\t2008-03-05\tWednesday",
                                                  "",
                                                  "Lap1:\t0:01'23.45\tSplit1:\t0:01'23.45",
                                                  "",
                                                  "",
                                                  "End Time:       \t ",
                                                  std::string(72, '-'),
                                                  ""};

// The report with each line ended by `lineEnd`: "\r" as the decoder writes it, "\r\n" as it is
// saved.
inline std::string reportText(const std::string& lineEnd) {
    std::string text;
    for (const std::string& line : reportLines)
        text += line + lineEnd;
    return text;
}

// The report's own worked example: group 007, Thursday 2007-11-22, two laps of 0:01'02.03 and
// 0:00'58.10. Its first lines, the same with or without the statistics and the end time.
inline const std::vector<std::string> twoLapReportHead{"MCH:       \t007",
                                                       "",
                                                       "Record Date:\t2007-11-22\tThursday",
                                                       "",
                                                       "Lap1:\t0:01'02.03\tSplit1:\t0:01'02.03",
                                                       "",
                                                       "Lap2:\t0:00'58.10\tSplit2:\t0:02'00.13"};

} // namespace example
