// SPDX-License-Identifier: MIT
#include "ReceivedData.h"

#include <algorithm>

namespace {

constexpr std::size_t unitBytes = 8;
constexpr unsigned char recordMark = 0xAB;

enum RecordType : unsigned {
    recordDate = 0x11,
    recordGroupNumber = 0x1E,
    recordLap = 0x22,
    recordSplit = 0x33,
    recordEndTime = 0x44,
    recordAverageLap = 0x55,
    recordFastestLap = 0x66,
    recordSlowestLap = 0x77,
    recordEnd = 0xFF,
};

// Payload bytes 4..7 as one little-endian word: XOR of words equals the XOR per byte position.
std::uint32_t payloadWord(const std::vector<unsigned char>& buffer, std::size_t p) {
    return std::uint32_t(buffer[p + 4]) | std::uint32_t(buffer[p + 5]) << 8 | std::uint32_t(buffer[p + 6]) << 16 |
           std::uint32_t(buffer[p + 7]) << 24;
}

} // namespace

TReceivedData::TReceivedData()
    : headerPattern{0xAB, 0xC0, 0x0F, 0xFF, 0xAA, 0xAA, 0xAA, 0xAA}, headerMask{0xFF, 0xFF, 0xF0, 0x00,
                                                                                0x0F, 0xFF, 0xFF, 0xFF} {}

void TReceivedData::Append(const std::vector<unsigned char>& bytes) {
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
}

bool TReceivedData::FindHeader() {
    while (scanPos < buffer.size()) {
        bool mismatch = false;
        for (std::size_t j = matchLen; j < unitBytes; ++j) {
            if (scanPos + j >= buffer.size()) {
                matchLen = j; // resume here when more bytes have arrived
                return false;
            }
            if ((buffer[scanPos + j] & headerMask[j]) != (headerPattern[j] & headerMask[j])) {
                mismatch = true;
                break;
            }
            matchLen = j + 1;
        }
        if (mismatch) {
            matchLen = 0;
            ++scanPos;
            continue;
        }
        matchLen = 0;
        headerPos = scanPos;
        ++scanPos;
        return true;
    }
    return false;
}

void TReceivedData::ClearGroup() {
    laps.clear();
    splits.clear();
    endTime.Clear();
    averageLap.Clear();
    fastestLap.Clear();
    slowestLap.Clear();
    hasAverage = hasFastest = hasSlowest = false;
}

void TReceivedData::Process(std::vector<unsigned char>& reportText) {
    const std::size_t size0 = buffer.size();
    groupComplete = checksumError = endRecordSeen = false;
    // A group left open by the last call is parsed first in this one; when that parse goes
    // on from its stop, the members already hold its state and must stay.
    if (!(resumeParse && stop.valid))
        ClearGroup();

    std::size_t cut = 0;
    bool deferred = false; // a group completed before the last header unit in the buffer
    while (FindHeader()) {
        recognised.store(true, std::memory_order_relaxed);
        ++headerCount;
        const std::size_t prev = cut;
        cut = headerPos;
        if (headerCount >= 2 && ParseSection(prev, cut, reportText)) {
            // The group before this header unit is complete. Deliver it alone: the group
            // that starts here is taken by the next call, so each group gets its own
            // reply byte and no report overwrites another.
            deferred = true;
            break;
        }
    }

    if (deferred) {
        headerCount = 0;
        scanPos = cut; // find this header unit again on the next call
        matchLen = 0;
        // A poll that brought several groups leaves the later ones buffered, one delivered per
        // call. Erasing each delivered group from the front would move that whole backlog once
        // per group; erase only once the delivered bytes outweigh what stays, so that every
        // byte is moved a bounded number of times. No group is open, so nothing relies on
        // where the next header unit lies: the next call finds it at scanPos.
        if (cut < buffer.size() - cut)
            cut = 0;
    } else if (headerCount > 0) {
        headerCount = ParseSection(cut, size0, reportText) ? 0 : 1;
    } else {
        cut = size0 > idleKeep ? size0 - idleKeep : 0;
    }
    if (cut > 0) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(cut));
        answeredFailure = answeredFailure != noPosition && answeredFailure >= cut ? answeredFailure - cut : noPosition;
    }
    scanPos -= cut;
    if (headerCount == 0 || stop.from < cut) {
        stop.valid = false;
    } else {
        stop.from -= cut;
        stop.next -= cut;
    }

    if (headerCount > 0 && buffer.size() > openGroupLimit) {
        const std::size_t drop = buffer.size() - idleKeep;
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(drop));
        scanPos = scanPos > drop ? scanPos - drop : 0;
        if (scanPos == 0)
            matchLen = 0;
        headerCount = 0;
        answeredFailure = noPosition;
        stop.valid = false;
    }
}

bool TReceivedData::ParseSection(std::size_t from, std::size_t to, std::vector<unsigned char>& reportText) {
    std::size_t p = from + unitBytes;
    // The last parse's stop lies beyond `to` when a new header unit begins among bytes that
    // parse took as records; those records are not this section's, so it starts afresh.
    if (resumeParse && stop.valid && stop.from == from && stop.next <= to) {
        Undo();
        p = stop.next;
        checkValue = stop.checkValue;
    } else {
        // Each section is a group of its own: nothing of an earlier parse (another group, or
        // an earlier arrangement of this one's records) may show in its report.
        ClearGroup();
        checkValue = 0;
    }
    stop = ParseStop{};
    for (; p + unitBytes <= to; p += unitBytes) {
        if (buffer[p] != recordMark)
            break;
        const unsigned type = (unsigned(buffer[p + 1] & 0x0F) << 4) | unsigned(buffer[p + 2] >> 4);
        const unsigned index =
            100 * unsigned(buffer[p + 2] & 0x0F) + 10 * unsigned(buffer[p + 3] >> 4) + unsigned(buffer[p + 3] & 0x0F);
        const std::uint32_t payload = payloadWord(buffer, p);

        if (type == recordEnd) {
            if (payload != checkValue) {
                // A refused group is answered 0xF0 once, when its end record arrives. Saying it
                // again on later polls, or once the timer has started sending anew (a new
                // header unit follows the section), can reach the timer as the answer to its
                // next sending: it would send that again, and the group would be shown twice.
                const bool superseded = to < buffer.size();
                if (!superseded && p != answeredFailure) {
                    endRecordSeen = true;
                    checksumError = true;
                    answeredFailure = p;
                }
                break;
            }
            endRecordSeen = true;
            groupComplete = true;
            answeredFailure = noPosition;
            BuildReport(reportText);
            if (onGroupComplete)
                onGroupComplete(*this);
            ClearGroup();
            return true;
        }
        if (p + unitBytes == buffer.size()) {
            // The last record the buffer holds, and the last this parse takes.
            stop.next = p;
            stop.checkValue = checkValue;
            KeepUndo(type, index);
        }
        checkValue ^= payload;
        switch (type) {
        case recordDate:
            date.SetFromRecord(buffer, p);
            break;
        case recordGroupNumber:
            groupNumber.SetFromRecord(buffer, p);
            break;
        case recordLap:
            StoreLap(p, index);
            break;
        case recordSplit:
            StoreSplit(p, index);
            break;
        case recordEndTime:
            endTime.SetFromRecord(buffer, p);
            break;
        case recordAverageLap:
            averageLap.SetFromRecord(buffer, p);
            hasAverage = true;
            break;
        case recordFastestLap:
            fastestLap.SetFromRecord(buffer, p);
            hasFastest = true;
            break;
        case recordSlowestLap:
            slowestLap.SetFromRecord(buffer, p);
            hasSlowest = true;
            break;
        default:
            break; // unknown types only count towards the check value
        }
    }
    // Stopped at a unit that is not a record, at a refused end record (both stop there again),
    // or at the section's end.
    if (!stop.undoPending) {
        stop.next = p;
        stop.checkValue = checkValue;
    }
    stop.valid = true;
    stop.from = from;
    return false;
}

void TReceivedData::KeepUndo(unsigned type, unsigned index) {
    // Called before the record is taken: what it can change without being decoded.
    stop.undoPending = true;
    stop.lapsSize = laps.size();
    stop.splitsSize = splits.size();
    stop.hasAverage = hasAverage;
    stop.hasFastest = hasFastest;
    stop.hasSlowest = hasSlowest;
    if (type == recordLap && index >= 1 && index <= splits.size()) {
        stop.splitRestored = index - 1;
        stop.splitText = splits[index - 1].text;
    }
}

void TReceivedData::Undo() {
    if (!stop.undoPending)
        return;
    // Lap and split records only ever grow the lists, so cutting them back removes exactly
    // the elements that record added.
    laps.erase(laps.begin() + static_cast<std::ptrdiff_t>(stop.lapsSize), laps.end());
    splits.erase(splits.begin() + static_cast<std::ptrdiff_t>(stop.splitsSize), splits.end());
    if (stop.splitRestored != noPosition)
        splits[stop.splitRestored].text.swap(stop.splitText);
    hasAverage = stop.hasAverage;
    hasFastest = stop.hasFastest;
    hasSlowest = stop.hasSlowest;
}

void TReceivedData::StoreLap(std::size_t offset, unsigned n) {
    if (n == 0)
        return;
    if (laps.size() < n)
        laps.resize(n, TMyTime(missingTimeText));
    laps[n - 1].SetFromRecord(buffer, offset);
    if (splits.size() < n)
        splits.resize(n, TMyTime(missingTimeText));
    splits[n - 1] = laps[n - 1];
    if (n >= 2)
        splits[n - 1].Add(splits[n - 2]);
}

void TReceivedData::StoreSplit(std::size_t offset, unsigned n) {
    if (n == 0)
        return;
    if (splits.size() < n)
        splits.resize(n, TMyTime(missingTimeText));
    splits[n - 1].SetFromRecord(buffer, offset);
}
