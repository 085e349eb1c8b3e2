// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to one decoder in arbitrary chunks and checks what must hold after
// every call, whatever arrives on the line.
#include "ReceivedData.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the chunking, so the fuzzer explores how bytes fall into polls.
    const std::size_t chunk = 1 + data[0] % 64;
    const bool growChunks = data[0] & 0x80;
    ++data;
    --size;

    TReceivedData decoder;
    std::vector<unsigned char> report;
    std::size_t pos = 0;
    std::size_t piece = chunk;
    bool pendingCompletion = true;
    while (pos < size || pendingCompletion) {
        const std::size_t n = pos < size ? std::min(piece, size - pos) : 0;
        decoder.Append(std::vector<unsigned char>(data + pos, data + pos + n));
        pos += n;
        if (growChunks)
            piece = piece * 2 + 1;

        const std::size_t before = decoder.buffer.size();
        report.assign({'?'});
        decoder.Process(report);

        check(decoder.scanPos <= decoder.buffer.size());
        check(decoder.headerCount <= 1);
        check(decoder.buffer.size() <= before);
        check(!decoder.checksumError || decoder.endRecordSeen);
        check(!decoder.groupComplete || decoder.endRecordSeen);
        check(!(decoder.groupComplete && decoder.checksumError));
        check(decoder.groupComplete == (report.size() != 1 || report[0] != '?'));
        if (decoder.headerCount == 1)
            check(decoder.buffer.size() <= TReceivedData::openGroupLimit);
        if (decoder.groupComplete) {
            check(report.size() >= 2 && report[report.size() - 1] == '\r' && report[report.size() - 2] == '\r');
            for (const unsigned char c : report)
                check(c != '\n' && c != 0);
        }
        check(decoder.laps.size() <= decoder.splits.size());
        pendingCompletion = decoder.groupComplete;
    }
    return 0;
}
