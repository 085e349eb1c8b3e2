// SPDX-License-Identifier: MIT
#include "ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

// Linux keeps a nice value per thread, and setpriority(PRIO_PROCESS, tid) changes only that
// thread (a documented departure from POSIX). Without CAP_SYS_NICE a thread may lower its nice
// value down to 20 - RLIMIT_NICE (soft limit); with the usual limit of 0 it cannot raise its
// priority at all and stays as it is. The limit, not a privilege, sets the target, so a
// program run as root does not claim more than an ordinary user's would.
void RaiseCurrentThreadPriority() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) != 0)
        return;
    constexpr rlim_t fullRange = 40;
    const rlim_t allowed = limit.rlim_cur == RLIM_INFINITY ? fullRange : std::min(limit.rlim_cur, fullRange);
    const int highest = 20 - static_cast<int>(allowed);

    const pid_t self = gettid();
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(self));
    if (errno != 0 || highest >= current)
        return;
    // EPERM or EACCES (a sandbox may refuse even what the limit allows): keep the priority.
    setpriority(PRIO_PROCESS, static_cast<id_t>(self), highest);
}
