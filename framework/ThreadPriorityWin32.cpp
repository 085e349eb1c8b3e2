// SPDX-License-Identifier: MIT
#include "ThreadPriority.h"

#include <windows.h>

// THREAD_PRIORITY_HIGHEST is the highest level below time-critical, and any process may set it
// for its own threads. A receiver thread never lowers itself: a thread already above it keeps
// its level.
void RaiseCurrentThreadPriority() {
    HANDLE self = GetCurrentThread();
    const int current = GetThreadPriority(self);
    if (current == THREAD_PRIORITY_ERROR_RETURN || current >= THREAD_PRIORITY_HIGHEST)
        return;
    SetThreadPriority(self, THREAD_PRIORITY_HIGHEST);
}
