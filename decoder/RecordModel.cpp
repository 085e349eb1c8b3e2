// SPDX-License-Identifier: MIT
#include "RecordModel.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t unitBytes = 8;

char digit(unsigned nibble) {
    return static_cast<char>('0' + (nibble & 0x0F));
}

// Payload nibble k (0..7) of the record at offset: N0 is the high nibble of byte 4.
unsigned payloadNibble(const std::vector<unsigned char>& buffer, std::size_t offset, unsigned k) {
    const unsigned char byte = buffer[offset + 4 + k / 2];
    return (k % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
}

// A record is decoded only when a byte follows it (see SetFromRecord in the header).
bool recordDecodable(const std::vector<unsigned char>& buffer, std::size_t offset) {
    return offset + unitBytes < buffer.size();
}

bool isMissing(const std::string& text) {
    return !text.empty() && text[0] == 'x';
}

} // namespace

void TMyTime::SetFromRecord(const std::vector<unsigned char>& buffer, std::size_t offset) {
    if (!recordDecodable(buffer, offset))
        return;
    auto n = [&](unsigned k) { return payloadNibble(buffer, offset, k); };
    if (n(1) == 0x0F) {
        text = absentTimeText;
        return;
    }
    const char decoded[] = {digit(n(1)), ':',         digit(n(2)), digit(n(3)), '\'',
                            digit(n(4)), digit(n(5)), '.',         digit(n(6)), digit(n(7))};
    text.assign(decoded, sizeof decoded);
}

TMyTime& TMyTime::Add(const TMyTime& other) {
    // Anything shorter than a time text cannot be added digit by digit; treat it like a
    // missing slot rather than read past its end.
    constexpr std::size_t timeTextLength = 10;
    if (isMissing(other.text) || isMissing(text) || other.text.size() < timeTextLength ||
        text.size() < timeTextLength) {
        text = missingTimeText;
        return *this;
    }
    if (other.text == absentTimeText || text == absentTimeText) {
        text = absentTimeText;
        return *this;
    }

    // Character positions of the seven digits, hour first, and the base of each position.
    constexpr std::array<std::size_t, 7> positions{0, 2, 3, 5, 6, 8, 9};
    constexpr std::array<unsigned, 7> bases{10, 6, 10, 6, 10, 10, 10};
    std::array<unsigned, 7> sum{};
    carry = 0;
    for (std::size_t i = positions.size(); i-- > 0;) {
        const auto a = static_cast<std::uint8_t>(static_cast<unsigned char>(text[positions[i]]) & 0x0F);
        const auto b = static_cast<std::uint8_t>(static_cast<unsigned char>(other.text[positions[i]]) & 0x0F);
        const auto s = static_cast<std::uint8_t>(a + b + carry);
        if (s >= bases[i]) {
            sum[i] = s - bases[i];
            carry = 1;
        } else {
            sum[i] = s;
            carry = 0;
        }
    }
    // The carry out of the hour is dropped: the hour wraps modulo 10. Malformed digits
    // (characters after '9') can give a value above 9, which is written in plain decimal.
    if (std::all_of(sum.begin(), sum.end(), [](unsigned v) { return v < 10; })) {
        const char result[timeTextLength] = {digit(sum[0]), ':',           digit(sum[1]), digit(sum[2]), '\'',
                                             digit(sum[3]), digit(sum[4]), '.',           digit(sum[5]), digit(sum[6])};
        text.assign(result, timeTextLength); // in place: the repeated parse of an open group adds up
        return *this;
    }
    std::string result;
    auto put = [&result](unsigned value) { result += std::to_string(value); };
    put(sum[0]);
    result += ':';
    put(sum[1]);
    put(sum[2]);
    result += '\'';
    put(sum[3]);
    put(sum[4]);
    result += '.';
    put(sum[5]);
    put(sum[6]);
    text = std::move(result);
    return *this;
}

void TMyDate::SetFromRecord(const std::vector<unsigned char>& buffer, std::size_t offset) {
    if (!recordDecodable(buffer, offset))
        return;
    static constexpr std::array<const char*, 7> weekdays{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                         "Thursday", "Friday", "Saturday"};
    auto n = [&](unsigned k) { return payloadNibble(buffer, offset, k); };
    text = {'2', '0', digit(n(1)), digit(n(2)), '-', digit(n(3)), digit(n(4)), '-', digit(n(5)), digit(n(6)), '\t'};
    if (n(7) < weekdays.size())
        text += weekdays[n(7)];
}

void TMyGroup::SetFromRecord(const std::vector<unsigned char>& buffer, std::size_t offset) {
    if (!recordDecodable(buffer, offset))
        return;
    const unsigned char b2 = buffer[offset + 2];
    const unsigned char b3 = buffer[offset + 3];
    text = {digit(b2 & 0x0F), digit(b3 >> 4), digit(b3 & 0x0F)};
}
