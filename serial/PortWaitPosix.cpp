// SPDX-License-Identifier: MIT
#include "PortWait.h"

#include "CommPort.h"

#include <cerrno>
#include <cstdint>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

const bool TPortWait::waitsForEvents = true;

TPortWait::TPortWait() {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "Cannot make a wake-up for a receiver");
    wakeHandle = fd;
}

TPortWait::~TPortWait() {
    close(static_cast<int>(wakeHandle));
}

// The wake-up is drained after poll returns, not before: a Wake between the caller's look at
// its flags and this poll must still end the wait. A Wake that lands after the drain leaves the
// counter set, and the next Wait returns at once, which costs the caller one empty look.
void TPortWait::Wait(const TCommPort& port, std::chrono::milliseconds) {
    pollfd watch[2] = {{static_cast<int>(wakeHandle), POLLIN, 0}, {port.handle, POLLIN, 0}};
    const nfds_t count = port.handle >= 0 ? 2 : 1;
    while (poll(watch, count, -1) < 0 && errno == EINTR) {
    }
    std::uint64_t wakes = 0;
    while (read(static_cast<int>(wakeHandle), &wakes, sizeof wakes) < 0 && errno == EINTR) {
    }
}

void TPortWait::Wake() {
    const std::uint64_t one = 1;
    // Fails only when the counter is near its limit, and then it is set already.
    while (write(static_cast<int>(wakeHandle), &one, sizeof one) < 0 && errno == EINTR) {
    }
}
