// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>

class TCommPort;

// How a receiver thread with nothing to do waits for its port. Where the system can wait on a
// serial port and a wake-up together (POSIX: poll on both descriptors), an idle thread costs
// nothing until a byte arrives; where it cannot, Wait is a plain sleep of the interval it is
// given, which is the receiver's ordinary polling cadence.
//
// One object per receiver thread: Wait runs on that thread only, Wake on any thread.
class TPortWait {
public:
    // Where Wait returns only for the port, a hang-up or Wake.
    static const bool waitsForEvents;

    // Raises std::system_error when the system gives no wake-up object.
    TPortWait();
    ~TPortWait();
    TPortWait(const TPortWait&) = delete;
    TPortWait& operator=(const TPortWait&) = delete;

    // Returns when bytes wait on `port`, it hung up or failed, or Wake was called since the
    // previous Wait returned; or, without waitsForEvents, after `interval`. A port that is not
    // open is only waited on for Wake. Raises nothing: whatever Wait saw, the caller's next
    // look at the port finds out.
    void Wait(const TCommPort& port, std::chrono::milliseconds interval);
    // Makes the current Wait, or the next one if none is running, return at once.
    void Wake();

private:
    std::intptr_t wakeHandle = -1; // the system's wake-up object (an eventfd on Linux)
};
