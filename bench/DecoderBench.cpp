// SPDX-License-Identifier: MIT
// Decoder throughput and the cost of one poll, as the receiver thread calls it.
#include "ReceivedData.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// One poll's worth at 9600 bit/s.
constexpr std::size_t pollBytes = 96;

Bytes record(unsigned type, unsigned index, unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
    return {0xAB,
            static_cast<unsigned char>(type >> 4),
            static_cast<unsigned char>((type & 0x0F) << 4 | index / 100),
            static_cast<unsigned char>(index / 10 % 10 << 4 | index % 10),
            a,
            b,
            c,
            d};
}

// A group with the given number of laps and splits; with or without its end record.
Bytes group(unsigned laps, unsigned splits, bool withEnd) {
    Bytes out{0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA};
    unsigned char check[4] = {};
    auto add = [&](const Bytes& r) {
        out.insert(out.end(), r.begin(), r.end());
        for (int k = 0; k < 4; ++k)
            check[k] ^= r[4 + k];
    };
    add(record(0x1E, 7, 0, 0, 0, 0));
    add(record(0x11, 0, 0x00, 0x71, 0x12, 0x24));
    for (unsigned i = 1; i <= laps; ++i)
        add(record(0x22, i, 0x00, 0x01, static_cast<unsigned char>(0x10 + i % 50), 0x25));
    for (unsigned i = 1; i <= splits; ++i)
        add(record(0x33, i, 0x01, 0x02, 0x03, 0x04));
    for (unsigned type : {0x44u, 0x55u, 0x66u, 0x77u})
        add(record(type, 0, 0x00, 0x01, 0x00, 0x00));
    if (withEnd) {
        const Bytes end = record(0xFF, 0, check[0], check[1], check[2], check[3]);
        out.insert(out.end(), end.begin(), end.end());
    }
    return out;
}

void feedInPolls(benchmark::State& state, const Bytes& stream) {
    std::vector<unsigned char> report;
    Bytes piece;
    for (auto _ : state) {
        TReceivedData decoder;
        for (std::size_t pos = 0; pos < stream.size(); pos += pollBytes) {
            piece.assign(stream.begin() + pos, stream.begin() + std::min(stream.size(), pos + pollBytes));
            decoder.Append(piece);
            decoder.Process(report);
            while (decoder.groupComplete) {
                decoder.Process(report);
            }
        }
        benchmark::DoNotOptimize(report.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void BM_ProcessGarbage(benchmark::State& state) {
    std::mt19937 rng(1);
    Bytes stream(1 << 20);
    for (auto& b : stream)
        b = static_cast<unsigned char>(rng() % 0xAB);
    feedInPolls(state, stream);
}
BENCHMARK(BM_ProcessGarbage)->Unit(benchmark::kMillisecond);

void BM_ProcessBackToBackGroups(benchmark::State& state) {
    Bytes stream;
    for (int g = 0; g < 200; ++g) {
        const Bytes one = group(10, 0, true);
        stream.insert(stream.end(), one.begin(), one.end());
    }
    feedInPolls(state, stream);
}
BENCHMARK(BM_ProcessBackToBackGroups)->Unit(benchmark::kMillisecond);

// One poll with a maximum-size group open (999 laps, 999 splits, no end record yet): the
// header search over the new bytes plus one parse of the whole open group.
void BM_PollWithMaximumGroupOpen(benchmark::State& state) {
    TReceivedData decoder;
    std::vector<unsigned char> report;
    decoder.Append(group(999, 999, false));
    decoder.Process(report);
    const Bytes none;
    for (auto _ : state) {
        decoder.Append(none);
        decoder.Process(report);
        benchmark::DoNotOptimize(decoder.laps.data());
    }
    if (decoder.headerCount != 1 || decoder.laps.size() != 999)
        state.SkipWithError("the group is not open as intended");
}
BENCHMARK(BM_PollWithMaximumGroupOpen)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
