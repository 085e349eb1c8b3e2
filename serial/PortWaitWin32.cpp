// SPDX-License-Identifier: MIT
#include "PortWait.h"

#include "CommPort.h"

#include <system_error>

#include <windows.h>

// The port's own calls cannot be waited on beside a wake-up here, so an idle receiver keeps the
// ordinary cadence: a pass, then the interval. The wait is on an event, so that a pause or a
// stop still ends it at once.
const bool TPortWait::waitsForEvents = false;

TPortWait::TPortWait() {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr); // auto-reset: one Wake, one return
    if (event == nullptr)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "Cannot make a wake-up for a receiver");
    wakeHandle = reinterpret_cast<std::intptr_t>(event);
}

TPortWait::~TPortWait() {
    CloseHandle(reinterpret_cast<HANDLE>(wakeHandle));
}

void TPortWait::Wait(const TCommPort&, std::chrono::milliseconds interval) {
    WaitForSingleObject(reinterpret_cast<HANDLE>(wakeHandle), static_cast<DWORD>(interval.count()));
}

void TPortWait::Wake() {
    SetEvent(reinterpret_cast<HANDLE>(wakeHandle));
}
