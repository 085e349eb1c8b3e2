// SPDX-License-Identifier: MIT
#pragma once

#include "ReceivedData.h"

#include <cstddef>
#include <functional>
#include <vector>

// Feeds a capture to one decoder in processing calls of `chunkBytes` bytes each, counted from
// the start of the capture, whatever pieces the capture is read in; the last call may get
// fewer. After the last piece it keeps calling without new bytes for as long as a call
// completed a group, because the decoder hands out at most one group per call and the
// receiver thread's later polls would take the rest.
class CaptureReplay {
public:
    // One poll at 9600 bit/s: 100 ms of 10-bit characters.
    static constexpr std::size_t pollBytes = 96;

    // Runs after every processing call, with the decoder and the report buffer it wrote.
    using AfterCall = std::function<void(const TReceivedData&, const std::vector<unsigned char>& reportText)>;

    // The decoder must outlive the replay; chunkBytes is at least 1.
    CaptureReplay(TReceivedData& decoder, std::size_t chunkBytes, AfterCall afterCall);

    void Feed(const unsigned char* data, std::size_t size);
    // Hands over the last, shorter chunk and settles. Call once, after the last Feed.
    void Finish();

    // Bytes fed so far.
    std::size_t Offset() const { return fed; }

private:
    void Call();

    TReceivedData& decoder;
    std::size_t chunkBytes;
    AfterCall afterCall;
    std::vector<unsigned char> chunk;
    std::vector<unsigned char> reportText;
    std::size_t fed = 0;
};
