// SPDX-License-Identifier: MIT
// The receiver program's side of the line, reduced to what the tests need: the project's
// decoder fed one poll at a time, the reply byte per poll, and the shown text as "Save as"
// writes it (CR LF line ends).
#pragma once

#include "ReceivedData.h"

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

struct ProgramPeer {
    TReceivedData decoder;
    std::vector<unsigned char> reportText;
    std::string shown;
    std::size_t groupsShown = 0;

    // One poll with the bytes that arrived since the last; returns the reply byte written,
    // if any (the receiver thread writes one byte per poll that met an end record).
    std::vector<std::uint8_t> Poll(const std::vector<std::uint8_t>& arrived) {
        decoder.Append(std::vector<unsigned char>(arrived.begin(), arrived.end()));
        decoder.Process(reportText);
        if (decoder.groupComplete) {
            ++groupsShown;
            for (const unsigned char c : reportText) {
                shown += static_cast<char>(c);
                if (c == '\r')
                    shown += '\n';
            }
        }
        if (!decoder.endRecordSeen)
            return {};
        return {static_cast<std::uint8_t>(decoder.checksumError ? 0xF0 : 0xFA)};
    }

    // Polls without new bytes until a poll completes nothing more: the decoder hands out at
    // most one group per poll.
    std::vector<std::uint8_t> Settle() {
        std::vector<std::uint8_t> replies;
        for (std::size_t before = groupsShown + 1; before != groupsShown;) {
            before = groupsShown;
            const auto r = Poll({});
            replies.insert(replies.end(), r.begin(), r.end());
        }
        return replies;
    }
};

} // namespace simtest
