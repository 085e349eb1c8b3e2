// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Every value of a memory group is held as the text in which it is printed, built straight
// from the packed-decimal payload of one record. Texts are 8-bit; a nibble above 9 becomes one
// of the six characters after '9' (0x3A..0x3F) and is never rejected.

// Text of a lap or split slot that exists only because a higher number was stored, and of
// any sum that involves such a slot.
inline constexpr const char* missingTimeText = "xxxxxxx";
// Text of a time the timer marked as absent (hours nibble 0xF).
inline constexpr const char* absentTimeText = "-:--'--.--";

class TMyTime {
public:
    TMyTime() = default;
    explicit TMyTime(std::string initialText) : text(std::move(initialText)) {}
    // Copying takes the text only; carry has no meaning outside Add.
    TMyTime(const TMyTime& other) : text(other.text) {}
    TMyTime& operator=(const TMyTime& other) {
        if (this != &other)
            text = other.text;
        return *this;
    }

    void Clear() { text.clear(); }

    // Decodes the time payload of the record whose 0xAB mark is at buffer[offset]. Changes
    // nothing unless at least one byte follows the record in buffer: a record that ends with
    // the last byte received is decoded on a later call, when the group is parsed again.
    void SetFromRecord(const std::vector<unsigned char>& buffer, std::size_t offset);

    // This time becomes this time plus other, digit by digit, the hour wrapping modulo 10.
    // A missing slot on either side makes the sum missing, an absent time makes it absent,
    // so a sum never reads beyond a text.
    TMyTime& Add(const TMyTime& other);

    std::uint8_t carry = 0;
    std::string text;
};

class TMyDate {
public:
    // "20YY-MM-DD", a TAB, then the weekday name (nothing for weekday codes 7..15).
    void SetFromRecord(const std::vector<unsigned char>& buffer, std::size_t offset);

    std::string text;
};

class TMyGroup {
public:
    // The three index digits of the record itself, leading zeros kept; the payload is unused.
    void SetFromRecord(const std::vector<unsigned char>& buffer, std::size_t offset);

    std::string text;
};
