// SPDX-License-Identifier: MIT
#pragma once

// The simulated timer's own picture of a training session: what each memory group holds, the
// bytes the timer puts on the wire for it, and the text the receiver program must show for
// it. Everything here is written from the wire format and the report rules alone, on purpose
// without the program's decoder: the simulator and the decoder are meant to check each other.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t unitBytes = 8;
inline constexpr unsigned maxIndex = 999;
// The timer counts hours with one digit, so every time and every sum lives modulo ten hours.
inline constexpr std::uint32_t hundredthsPerHour = 360000;
inline constexpr std::uint32_t timeModulus = 10 * hundredthsPerHour;

// One time as the timer holds it: hundredths of a second below ten hours, or marked absent.
struct SimTime {
    bool absent = false;
    std::uint32_t hundredths = 0;

    static SimTime Absent() { return {true, 0}; }
    static SimTime Of(unsigned hours, unsigned minutes, unsigned seconds, unsigned hundredths);
    bool operator==(const SimTime&) const = default;
};

// The record date as sent: the year within the century and the month and day as two digits
// each; no calendar check, like the timer. weekday 0 is Sunday; 7..15 carry no name.
struct SimDate {
    unsigned year = 0;
    unsigned month = 1;
    unsigned day = 1;
    unsigned weekday = 0;
    bool operator==(const SimDate&) const = default;
};

enum class RecordKind : std::uint8_t {
    groupNumber,
    date,
    lap,
    split,
    endTime,
    averageLap,
    fastestLap,
    slowestLap,
    unknown, // a type the program does not know; it only enters the check value
};

// Record type codes on the wire.
inline constexpr std::uint8_t typeDate = 0x11;
inline constexpr std::uint8_t typeGroupNumber = 0x1E;
inline constexpr std::uint8_t typeLap = 0x22;
inline constexpr std::uint8_t typeSplit = 0x33;
inline constexpr std::uint8_t typeEndTime = 0x44;
inline constexpr std::uint8_t typeAverageLap = 0x55;
inline constexpr std::uint8_t typeFastestLap = 0x66;
inline constexpr std::uint8_t typeSlowestLap = 0x77;
inline constexpr std::uint8_t typeEnd = 0xFF;

// True for the types the program acts on, and for the end record.
bool IsKnownType(std::uint8_t type);

struct SimRecord {
    RecordKind kind = RecordKind::unknown;
    // Lap or split number, the group number, or the index field of any other record (0..999).
    unsigned index = 0;
    SimTime time;          // lap, split, end time and the three statistics
    SimDate date;          // date records
    std::uint8_t type = 0; // unknown records only
    // Payload of unknown records; for group-number records a payload the program must ignore.
    std::array<std::uint8_t, 4> payload{};
    // Fills the nibbles the program does not examine (byte 1 high nibble, payload N0 of times
    // and dates, the payload after an absent hour), so a decoder that reads them stands out.
    std::uint8_t spare = 0;

    static SimRecord Number(unsigned number);
    static SimRecord Date(const SimDate& date);
    // Lap, split, end time or one of the statistics.
    static SimRecord Time(RecordKind kind, const SimTime& time, unsigned index = 0);
    static SimRecord Unknown(std::uint8_t type, unsigned index, const std::array<std::uint8_t, 4>& payload);

    bool operator==(const SimRecord&) const = default;
};

// One memory group: its records in the order the timer sends them. The header unit and the
// end record are not part of the model; they are made when the group is sent.
struct SimGroup {
    std::vector<SimRecord> records;
    bool operator==(const SimGroup&) const = default;
};

struct SimSession {
    std::vector<SimGroup> groups;
    bool operator==(const SimSession&) const = default;
};

// The number the group's last group-number record carries, if it has one.
std::optional<unsigned> GroupNumberOf(const SimGroup& group);

// --- Wire bytes ---------------------------------------------------------------------------

// The header unit AB C0 0x xx xA AA AA AA; `nonce` fills the 16 free bits (byte 2 low nibble,
// byte 3, byte 4 high nibble), which the timer varies from one sending to the next.
Bytes EncodeHeader(std::uint16_t nonce);
Bytes EncodeRecord(const SimRecord& record);
// The XOR, per payload position, of the payloads of every record of the group.
std::array<std::uint8_t, 4> CheckValueOf(const SimGroup& group);
Bytes EncodeEndRecord(const std::array<std::uint8_t, 4>& checkValue);

struct SendOptions {
    std::uint16_t headerNonce = 0;
    // Non-zero: XORed into the end record's check value, so the program must answer 0xF0.
    std::array<std::uint8_t, 4> checkCorruption{};
    // A unit whose byte 0 is not 0xAB, put before record `badUnitBefore` (0-based; the end
    // record when it equals the record count). The group then never completes.
    std::optional<std::size_t> badUnitBefore;
    std::uint8_t badUnitFirstByte = 0x00;
};

// Header unit, records, end record: one sending of the group.
Bytes EncodeGroup(const SimGroup& group, const SendOptions& options = {});

// Offset of a run of bytes after position 0 that the program would take for a header unit,
// which would split the group there. A session whose groups have one cannot be played
// faithfully, so loading rejects it.
std::optional<std::size_t> FindStrayHeader(const Bytes& groupBytes);

// --- Expected report text -------------------------------------------------------------------

// Builds the block the program shows for each completed group, with CR line ends. Keeps the
// group number and date across groups: a group without those records shows the previous ones.
class ExpectedReport {
public:
    std::string Block(const SimGroup& group);

private:
    std::string numberText;
    std::string dateText;
};

// Every group's block in session order with CR LF line ends: what "Save as" writes once the
// whole session has arrived.
std::string ExpectedSavedText(const SimSession& session);

// The text the program prints for a time ("H:MM'SS.cc" or the absent placeholder).
std::string TimeText(const SimTime& time);
std::string DateText(const SimDate& date);

} // namespace sim
