// SPDX-License-Identifier: MIT
// Reads the speed back as a plain number, also for rates without a B-constant; the kernel's
// termios2 header cannot share a file with <termios.h>.
#include "LineSpeedProbe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

std::uint32_t OutputBitsPerSecond(int fd) {
    termios2 settings{};
    return ioctl(fd, TCGETS2, &settings) == 0 ? settings.c_ospeed : 0;
}
