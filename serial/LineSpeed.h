// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

// Sets both directions of the open terminal `fd` to any positive bits-per-second value, also
// one that has no B-constant of its own (14400, 56000, 128000, 256000). Lives in its own file
// because the kernel's termios2 header cannot be included beside <termios.h>. Returns 0 or the
// errno value of the failure.
int SetArbitraryLineSpeed(int fd, std::int32_t bitsPerSecond);
