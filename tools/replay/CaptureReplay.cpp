// SPDX-License-Identifier: MIT
#include "CaptureReplay.h"

#include <algorithm>

CaptureReplay::CaptureReplay(TReceivedData& decoder, std::size_t chunkBytes, AfterCall afterCall)
    : decoder(decoder), chunkBytes(std::max<std::size_t>(chunkBytes, 1)), afterCall(std::move(afterCall)) {
    chunk.reserve(this->chunkBytes);
}

void CaptureReplay::Feed(const unsigned char* data, std::size_t size) {
    fed += size;
    while (size > 0) {
        const std::size_t n = std::min(size, chunkBytes - chunk.size());
        chunk.insert(chunk.end(), data, data + n);
        data += n;
        size -= n;
        if (chunk.size() == chunkBytes)
            Call();
    }
}

void CaptureReplay::Finish() {
    if (!chunk.empty())
        Call();
    while (decoder.groupComplete)
        Call();
}

void CaptureReplay::Call() {
    decoder.Append(chunk);
    chunk.clear();
    decoder.Process(reportText);
    if (afterCall)
        afterCall(decoder, reportText);
}
