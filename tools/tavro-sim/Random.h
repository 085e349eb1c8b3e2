// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace sim {

// A small generator with a fixed algorithm (SplitMix64), so that a seed gives the same
// session and the same faults on every machine and standard library; <random>'s
// distributions are not specified that tightly.
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in 0..n-1 (n >= 1); the modulo bias is far below anything a test could see.
    std::uint64_t Below(std::uint64_t n) { return Next() % n; }
    // Uniform in lo..hi, both included.
    unsigned Between(unsigned lo, unsigned hi) { return lo + static_cast<unsigned>(Below(hi - lo + 1ULL)); }
    bool Percent(unsigned chance) { return Below(100) < chance; }
    bool PerMille(unsigned chance) { return Below(1000) < chance; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 56); }

private:
    std::uint64_t state;
};

} // namespace sim
