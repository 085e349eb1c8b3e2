// SPDX-License-Identifier: MIT
// Runs the fuzz target without libFuzzer (any compiler): over the files given on the command
// line, and over pseudo-random inputs, so that the checks run in every test build.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot open %s\n", argv[i]);
            return 2;
        }
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    // Random inputs that are mostly protocol-shaped: header units, 0xAB-marked records and
    // plausible end records, mixed with noise.
    std::mt19937 rng(20261208);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> input{static_cast<std::uint8_t>(rng())};
        const int units = static_cast<int>(rng() % 200);
        for (int u = 0; u < units; ++u) {
            switch (rng() % 4) {
            case 0:
                input.insert(input.end(), {0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA});
                break;
            case 1:
                input.insert(input.end(), {0xAB, 0x0F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00});
                break;
            default:
                input.push_back(0xAB);
                for (int k = 0; k < 7; ++k)
                    input.push_back(static_cast<std::uint8_t>(rng()));
            }
            if (rng() % 10 == 0)
                input.push_back(static_cast<std::uint8_t>(rng()));
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
