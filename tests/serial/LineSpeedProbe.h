// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

// The output speed of the terminal `fd` in bits per second, or 0 if it cannot be read.
std::uint32_t OutputBitsPerSecond(int fd);
