// SPDX-License-Identifier: MIT
#pragma once

#include "PortNames.h"

#include <chrono>
#include <functional>
#include <memory>

// Tells its owner when the serial ports may have changed: a device came or went, or a program
// that held a port let it go. It runs a thread of its own that sleeps until the system reports
// something, so that a program waiting for its timer does not walk the system's ports on a
// clock. On Linux the events are the kernel's device events (a terminal added, removed or
// renamed); with TAVRO_PORT_DIR set (tests, the simulator) they are inotify's on that folder.
//
// Nothing is listed here: the owner looks at the ports again itself when told, on its own thread.
class TPortWatch {
public:
    // How long after the first event of a burst `changed` is called, so that the sixteen events
    // of a hub plugged in are one look at the ports.
    static constexpr auto settleTime = std::chrono::milliseconds(100);
    // When a terminal appears the kernel tells first and the device manager then makes its node
    // and gives it its owner and mode: `changed` is called once more this long after it.
    static constexpr auto nodeSetupTime = std::chrono::seconds(1);
    // How often a port held by another program is tried while nothing says it was let go.
    static constexpr auto retryInterval = std::chrono::seconds(3);

    // Starts watching; `changed` runs on the watch's thread and must not block for long. When
    // the system refuses the events, `changed` is called every retryInterval instead.
    TPortWatch(const TPortRoots& roots, std::function<void()> changed);
    // Stops the thread and waits for it (and so for a `changed` that is running).
    ~TPortWatch();
    TPortWatch(const TPortWatch&) = delete;
    TPortWatch& operator=(const TPortWatch&) = delete;

    // A port could not be opened because another program holds it: `changed` is called once
    // more when a lock file is removed from the lock folder, or after retryInterval at the
    // latest. Any thread.
    void RetryLater();

    // Whether device events reach this watch (false when the system refused the socket or the
    // inotify watch).
    bool Watching() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
