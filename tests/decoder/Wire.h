// SPDX-License-Identifier: MIT
// Builds the bytes a timer puts on the wire, for the decoder's tests. Deliberately written
// from the wire format alone, not from the decoder.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace wire {

using Bytes = std::vector<unsigned char>;
using Payload = std::array<unsigned char, 4>;

inline Bytes header(unsigned char byte2 = 0x00, unsigned char byte3 = 0x00, unsigned char byte4 = 0x0A) {
    return {0xAB, 0xC0, byte2, byte3, byte4, 0xAA, 0xAA, 0xAA};
}

// type 0x00..0xFF, index 0..999 as three decimal nibbles.
inline Bytes record(unsigned type, unsigned index, Payload payload) {
    const unsigned hundreds = index / 100, tens = index / 10 % 10, units = index % 10;
    return {0xAB,
            static_cast<unsigned char>(type >> 4),
            static_cast<unsigned char>((type & 0x0F) << 4 | hundreds),
            static_cast<unsigned char>(tens << 4 | units),
            payload[0],
            payload[1],
            payload[2],
            payload[3]};
}

inline unsigned char bcd(unsigned value) {
    return static_cast<unsigned char>(value / 10 << 4 | value % 10);
}

inline Payload timePayload(unsigned h, unsigned mm, unsigned ss, unsigned cc) {
    return {static_cast<unsigned char>(h & 0x0F), bcd(mm), bcd(ss), bcd(cc)};
}
inline Payload absentTimePayload() {
    return {0x0F, 0x00, 0x00, 0x00};
}
inline Payload datePayload(unsigned yy, unsigned mm, unsigned dd, unsigned weekday) {
    return {static_cast<unsigned char>(yy / 10), static_cast<unsigned char>(yy % 10 << 4 | mm / 10),
            static_cast<unsigned char>(mm % 10 << 4 | dd / 10), static_cast<unsigned char>(dd % 10 << 4 | weekday)};
}

enum : unsigned {
    date = 0x11,
    group = 0x1E,
    lap = 0x22,
    split = 0x33,
    endTime = 0x44,
    average = 0x55,
    fastest = 0x66,
    slowest = 0x77,
    end = 0xFF
};

inline Payload xorOf(const std::vector<Bytes>& records) {
    Payload check{};
    for (const Bytes& r : records)
        for (unsigned k = 0; k < 4; ++k)
            check[k] ^= r[4 + k];
    return check;
}

// A whole group: header, records, end record (with a corrupted check value if asked).
inline Bytes groupBytes(const std::vector<Bytes>& records, bool badCheck = false, Bytes head = header()) {
    Bytes out = std::move(head);
    for (const Bytes& r : records)
        out.insert(out.end(), r.begin(), r.end());
    Payload check = xorOf(records);
    if (badCheck)
        check[3] ^= 0x01;
    const Bytes e = record(end, 0, check);
    out.insert(out.end(), e.begin(), e.end());
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::string text(const std::vector<unsigned char>& bytes) {
    return {bytes.begin(), bytes.end()};
}

} // namespace wire
