// SPDX-License-Identifier: MIT
#include "PortWatch.h"

#include "UeventMessage.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// Closes its descriptor; -1 when the system refused it.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

// The kernel's own device events (multicast group 1), not the device manager's (group 2): they
// come whether or not a device manager runs (containers, minimal systems), and need no library.
int OpenUeventSocket() {
    const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0)
        return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int WatchFolder(int inotify, const std::string& folder, std::uint32_t events) {
    return inotify >= 0 && !folder.empty() ? inotify_add_watch(inotify, folder.c_str(), events) : -1;
}

template <typename Call>
auto RetryOnInterrupt(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

std::optional<Clock::time_point> Earliest(std::optional<Clock::time_point> a, std::optional<Clock::time_point> b) {
    if (!a)
        return b;
    if (!b)
        return a;
    return std::min(*a, *b);
}

} // namespace

struct TPortWatch::Impl {
    Impl(const TPortRoots& roots, std::function<void()> changed)
        : changed(std::move(changed)), stop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          inotify(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)), uevents(roots.portDir.empty() ? OpenUeventSocket() : -1) {
        if (stop.get() < 0)
            throw std::system_error(errno, std::generic_category(), "Cannot watch the serial ports");
        portDirWatch = WatchFolder(inotify.get(), roots.portDir,
                                   IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR);
        lockDirWatch = WatchFolder(inotify.get(), roots.lockDir, IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR);
        watching = roots.portDir.empty() ? uevents.get() >= 0 : portDirWatch >= 0;
        worker = std::thread([this] { Run(); });
    }
    ~Impl() {
        Signal();
        worker.join();
    }

    void Signal() {
        const std::uint64_t one = 1;
        RetryOnInterrupt([&] { return write(stop.get(), &one, sizeof one); });
    }

    void RetryLater() {
        {
            const std::lock_guard lock(mutex);
            if (!retryDue)
                retryDue = Clock::now() + retryInterval;
        }
        Signal(); // the thread takes the new deadline into its wait
    }

    void Run();
    bool ReadUevents();
    // Returns {some port came or went, some lock file went}.
    std::pair<bool, bool> ReadInotify();

    std::function<void()> changed;
    Descriptor stop; // also wakes the thread for a new retry deadline
    Descriptor inotify;
    Descriptor uevents;
    int portDirWatch = -1;
    int lockDirWatch = -1;
    bool watching = false;
    bool stopping = false; // the thread's own
    std::mutex mutex;
    bool stopRequested = false;                // under mutex
    std::optional<Clock::time_point> retryDue; // under mutex
    std::thread worker;
};

// Everything waits in one poll; the only deadlines are those that an event or RetryLater set, so
// with nothing to report the thread sleeps for good.
void TPortWatch::Impl::Run() {
    std::optional<Clock::time_point> settleDue;    // an event's burst ends
    std::optional<Clock::time_point> nodeSetupDue; // a new terminal's node should be ready
    while (!stopping) {
        std::optional<Clock::time_point> retry;
        {
            // Without events the ports are looked at every retryInterval instead: slower to
            // notice an adapter, but it is noticed.
            const std::lock_guard lock(mutex);
            if (!watching && !retryDue)
                retryDue = Clock::now() + retryInterval;
            retry = retryDue;
        }
        const auto due = Earliest(Earliest(settleDue, nodeSetupDue), retry);
        int timeout = -1;
        if (due) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<std::int64_t>(left, 0, 24 * 3600 * 1000));
        }
        std::array<pollfd, 3> watch{{{stop.get(), POLLIN, 0}, {inotify.get(), POLLIN, 0}, {uevents.get(), POLLIN, 0}}};
        if (RetryOnInterrupt([&] { return poll(watch.data(), watch.size(), timeout); }) < 0) {
            // Only ENOMEM is left; try again a little later rather than spin.
            std::this_thread::sleep_for(settleTime);
            continue;
        }
        if (watch[0].revents != 0) {
            std::uint64_t count = 0;
            RetryOnInterrupt([&] { return read(stop.get(), &count, sizeof count); });
            const std::lock_guard lock(mutex);
            stopping = stopRequested;
        }
        bool portsMoved = false;
        bool lockGone = false;
        if (watch[1].revents != 0)
            std::tie(portsMoved, lockGone) = ReadInotify();
        if (watch[2].revents != 0 && ReadUevents()) {
            portsMoved = true;
            nodeSetupDue = Clock::now() + nodeSetupTime;
        }
        const auto now = Clock::now();
        {
            // A lock file removed matters only while a port waits for its holder; our own
            // ports' lock files come and go with every open and close.
            const std::lock_guard lock(mutex);
            if (retryDue && (lockGone || *retryDue <= now)) {
                retryDue.reset();
                portsMoved = true;
            }
        }
        if (portsMoved && !settleDue)
            settleDue = now + settleTime;
        bool call = false;
        if (settleDue && *settleDue <= now) {
            settleDue.reset();
            call = true;
        }
        if (nodeSetupDue && *nodeSetupDue <= now) {
            nodeSetupDue.reset();
            call = true;
        }
        if (call && !stopping && changed)
            changed();
    }
}

// The kernel's messages only: anything else multicasting on the socket (a program with the
// right to) is not listened to. A message cut short is dropped whole.
bool TPortWatch::Impl::ReadUevents() {
    bool relevant = false;
    std::array<char, 8192> buffer{};
    for (;;) {
        sockaddr_nl sender{};
        iovec part{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t n = RetryOnInterrupt([&] { return recvmsg(uevents.get(), &message, 0); });
        if (n < 0) {
            // ENOBUFS: events were lost while we slept; look at the ports to be sure.
            if (errno == ENOBUFS)
                relevant = true;
            return relevant;
        }
        if (sender.nl_pid != 0 || (message.msg_flags & MSG_TRUNC) != 0)
            continue;
        const auto event = ParseUevent(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        relevant = relevant || (event && ChangesSerialPorts(*event));
    }
}

std::pair<bool, bool> TPortWatch::Impl::ReadInotify() {
    bool portsMoved = false;
    bool lockGone = false;
    alignas(inotify_event) std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = RetryOnInterrupt([&] { return read(inotify.get(), buffer.data(), buffer.size()); });
        if (n <= 0)
            return {portsMoved, lockGone};
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            // IN_Q_OVERFLOW: events were lost, so anything may have happened.
            if (event->wd == portDirWatch || (event->mask & IN_Q_OVERFLOW) != 0)
                portsMoved = true;
            if (event->wd == lockDirWatch || (event->mask & IN_Q_OVERFLOW) != 0)
                lockGone = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

TPortWatch::TPortWatch(const TPortRoots& roots, std::function<void()> changed)
    : impl(std::make_unique<Impl>(roots, std::move(changed))) {}

TPortWatch::~TPortWatch() {
    {
        const std::lock_guard lock(impl->mutex);
        impl->stopRequested = true;
    }
    impl.reset();
}

void TPortWatch::RetryLater() {
    impl->RetryLater();
}

bool TPortWatch::Watching() const {
    return impl->watching;
}
