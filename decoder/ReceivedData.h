// SPDX-License-Identifier: MIT
#pragma once

#include "RecordModel.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Decoder of one port's byte stream: finds the timer's header units, parses the open group
// (going on where the previous call's parse of it stopped), checks the end record's XOR value
// and, when a group is complete, writes its report block. It never raises; callers read the outcome
// flags after each Process call. Owned and used by one receiver thread; only `recognised`
// is read (and, while the thread is paused, cleared) from the user-interface thread.
class TReceivedData {
public:
    // While a group is open every byte since its header unit is kept. A legal group is at
    // most about 16 KiB (header, number, date, 999 laps, 999 splits, four single times, end
    // record: 2006 units of 8 bytes), so 1 MiB leaves a wide margin for repeated or unknown
    // records while keeping one re-parse per poll well under a millisecond. A longer "group"
    // is a stuck stream (a unit whose byte 0 is not 0xAB, or an end record that never
    // comes) and is dropped.
    static constexpr std::size_t openGroupLimit = 1024 * 1024;

    // Every parse of a section starts from a clean slate, so it depends on the section's bytes
    // alone and the open group's parse can go on where the previous call's stopped: a poll
    // then costs its new bytes rather than the whole group again, which a long open group
    // (the cap above) or a replayed capture would otherwise pay on every call. Off, every call
    // parses the open group again from its header unit; tests turn it off to compare the two.
    bool resumeParse = true;

    TReceivedData();
    TReceivedData(const TReceivedData&) = delete;
    TReceivedData& operator=(const TReceivedData&) = delete;

    // Appends received bytes at the end of `buffer`.
    void Append(const std::vector<unsigned char>& bytes);

    // One processing call. When a group completes, reportText is replaced by its block;
    // otherwise it is left untouched. At most one group completes per call: bytes after its
    // end record stay buffered and the next call, even without new bytes, takes them.
    void Process(std::vector<unsigned char>& reportText);

    bool IsRecognised() const { return recognised.load(std::memory_order_relaxed); }
    void SetRecognised(bool value) { recognised.store(value, std::memory_order_relaxed); }

    // Internal steps, public so that tests can drive them one at a time.
    bool FindHeader();
    bool ParseSection(std::size_t from, std::size_t to, std::vector<unsigned char>& reportText);
    void StoreLap(std::size_t offset, unsigned n);
    void StoreSplit(std::size_t offset, unsigned n);
    void BuildReport(std::vector<unsigned char>& output) const;

    // What the report shows after "End Time:": a single space when the last shown split is
    // later than the end time (the end time then belongs to no lap shown), else the end time.
    std::string_view EndTimeField() const;

    // Called once per completed group, right after its report block was built and before the
    // lists and single times are emptied, so that a caller can read the group's values
    // themselves (tavro-export does). Empty in the program.
    std::function<void(const TReceivedData&)> onGroupComplete;

    std::vector<unsigned char> buffer;
    std::vector<unsigned char> headerPattern;
    std::vector<unsigned char> headerMask;
    std::uint32_t idleKeep = 16;
    std::size_t scanPos = 0;
    std::size_t matchLen = 0;
    std::size_t headerPos = 0;
    std::uint32_t headerCount = 0;
    std::atomic<bool> recognised{false};
    bool hasAverage = false;
    bool hasFastest = false;
    bool hasSlowest = false;
    std::uint32_t checkValue = 0;
    TMyDate date;
    TMyGroup groupNumber;
    TMyTime endTime;
    TMyTime averageLap;
    TMyTime fastestLap;
    TMyTime slowestLap;
    std::vector<TMyTime> laps;
    std::vector<TMyTime> splits;

    // Outcome of the last Process call. endRecordSeen means a reply is due: 0xF0 when
    // checksumError, else 0xFA.
    bool groupComplete = false;
    bool checksumError = false;
    bool endRecordSeen = false;

private:
    static constexpr std::size_t noPosition = static_cast<std::size_t>(-1);
    // Where the open group's failed end record lies, once it has been answered.
    std::size_t answeredFailure = noPosition;

    // Where the last parse of a section stopped without completing it, with the members then
    // holding that parse's result. A record that ends with the buffer's last byte is taken but
    // not decoded (SetFromRecord leaves it for a later call), yet it grows the lists, enters
    // the check value and sets its flag; the stop is therefore kept before such a record, with
    // what undoes its effects, so that going on from the stop equals a parse from the header
    // unit.
    struct ParseStop {
        bool valid = false;
        std::size_t from = 0;         // the section's header position
        std::size_t next = 0;         // the first record whose effects the members lack
        std::uint32_t checkValue = 0; // the check value before the record at next
        bool undoPending = false;     // the record at next was taken but not decoded
        std::size_t lapsSize = 0;
        std::size_t splitsSize = 0;
        std::size_t splitRestored = noPosition; // the element of splits a lap record overwrote
        std::string splitText;
        bool hasAverage = false;
        bool hasFastest = false;
        bool hasSlowest = false;
    };
    ParseStop stop;

    void ClearGroup();
    void KeepUndo(unsigned type, unsigned index);
    void Undo();
};
