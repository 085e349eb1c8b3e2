// SPDX-License-Identifier: MIT
#include "PortLock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view devPrefix = "/dev/";
constexpr std::size_t lockFileBytesRead = 64;
// A stale lock removed by us can be replaced by a new taker between our removal and our
// link; a few rounds settle that.
constexpr int takeAttempts = 3;

// ---- Clean-up on the signals that end a program ----
//
// A lock file that outlives its process is harmless in the end (the next taker finds it stale
// and removes it), but until then other programs that do not check for staleness refuse the
// port. So the paths of the locks we hold sit in a fixed table that a signal handler can walk
// without allocating or locking: it removes them and lets the signal take its default effect.

constexpr std::size_t signalSlots = 64;
constexpr std::size_t slotPathBytes = 512;
constexpr int slotFree = 0;
constexpr int slotBusy = 1;
constexpr int slotReady = 2;
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots' states");

struct SignalSlot {
    std::atomic<int> state{slotFree};
    pid_t owner = 0;
    char path[slotPathBytes] = {};
};

SignalSlot signalTable[signalSlots];

constexpr int cleanedSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void RemoveLocksAndEnd(int signal) {
    // A forked child inherits the table; the locks in it are its parent's.
    const pid_t self = getpid();
    for (auto& slot : signalTable) {
        if (slot.state.load(std::memory_order_acquire) == slotReady && slot.owner == self) {
            unlink(slot.path);
        }
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    // Blocked while this handler runs, so it ends the process right after the return.
    raise(signal);
}

// Only where the signal would end the process outright: a program that ignores it or
// handles it itself keeps running (or shuts down in order, releasing its locks), and must
// keep its locks meanwhile. Looked at with every lock taken, not once: a program may set a
// signal back to its default at any time.
void InstallSignalCleanup() {
    for (const int signal : cleanedSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) != 0 || (previous.sa_flags & SA_SIGINFO) != 0 ||
            previous.sa_handler != SIG_DFL) {
            continue;
        }
        struct sigaction cleanup {};
        cleanup.sa_handler = RemoveLocksAndEnd;
        sigemptyset(&cleanup.sa_mask);
        sigaction(signal, &cleanup, nullptr);
    }
}

// The slot now naming `path`, or -1 when the table is full or the path too long; such a lock
// is still taken, it is just left for the next taker to find stale after a signal.
int RegisterForSignals(const std::string& path) {
    if (path.size() >= slotPathBytes) {
        return -1;
    }
    InstallSignalCleanup();
    for (std::size_t i = 0; i < signalSlots; ++i) {
        SignalSlot& slot = signalTable[i];
        int expected = slotFree;
        if (slot.state.compare_exchange_strong(expected, slotBusy, std::memory_order_acq_rel)) {
            slot.owner = getpid();
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.state.store(slotReady, std::memory_order_release);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void UnregisterForSignals(int slot) {
    if (slot >= 0) {
        signalTable[slot].state.store(slotFree, std::memory_order_release);
    }
}

// ---- The lock file itself ----

std::string HdbContent(pid_t pid) {
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return std::string(text, static_cast<std::size_t>(length));
}

// The PID on the first line, or 0. Leading and trailing blanks are allowed (HDB pads with
// spaces); a PID must be positive: kill(0, ...) would mean our own process group.
pid_t ParsePid(std::string_view content) {
    content = content.substr(0, content.find('\n'));
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!content.empty() && blank(content.front())) {
        content.remove_prefix(1);
    }
    while (!content.empty() && blank(content.back())) {
        content.remove_suffix(1);
    }
    long value = 0;
    const auto [end, error] = std::from_chars(content.data(), content.data() + content.size(), value);
    if (content.empty() || error != std::errc() || end != content.data() + content.size() || value <= 0 ||
        value > INT_MAX) {
        return 0;
    }
    return static_cast<pid_t>(value);
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Which file a name stood for, to tell later whether it still does.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;

    bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const struct stat& status) {
    return {status.st_dev, status.st_ino};
}

// A lock file as it was read, kept open: while it is open its inode cannot be freed and its
// number given to a new file, so a path that still shows that number still is that file.
class ReadLock {
public:
    explicit ReadLock(const std::string& path);
    ~ReadLock() {
        if (fd >= 0) {
            close(fd);
        }
    }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

    const TLockClaim& Claim() const { return claim; }
    // Whether the file read is `file`.
    bool Is(const FileIdentity& file) const {
        struct stat status {};
        return fd >= 0 && fstat(fd, &status) == 0 && IdentityOf(status) == file;
    }
    // Whether `path` names the file read, now.
    bool StillAt(const std::string& path) const {
        struct stat status {};
        return lstat(path.c_str(), &status) == 0 && Is(IdentityOf(status));
    }

private:
    int fd = -1;
    TLockClaim claim;
};

ReadLock::ReadLock(const std::string& path) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        claim = {missing ? TLockClaim::Kind::none : TLockClaim::Kind::unreadable, 0};
        return;
    }
    char content[lockFileBytesRead];
    ssize_t n = 0;
    do {
        n = read(fd, content, sizeof content);
    } while (n < 0 && errno == EINTR);
    const pid_t pid = n > 0 ? ParsePid(std::string_view(content, static_cast<std::size_t>(n))) : 0;
    if (pid == 0) {
        claim = {TLockClaim::Kind::unreadable, 0};
        return;
    }
    // EPERM: the process exists but belongs to someone else.
    const bool exists = kill(pid, 0) == 0 || errno != ESRCH;
    claim = {exists ? TLockClaim::Kind::live : TLockClaim::Kind::stale, pid};
}

struct TemporaryLock {
    std::string name;
    FileIdentity file;
};

// A complete lock file of this process under a name of its own, or nothing when the folder
// cannot be written.
std::optional<TemporaryLock> WriteTemporaryLock(const std::string& lockDir) {
    static std::atomic<unsigned> counter{0};
    const std::string name = lockDir + "/LTMP." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return std::nullopt;
    }
    // Readable by all, whatever the umask: other programs must be able to read who holds it.
    struct stat status {};
    const bool written = fchmod(fd, 0644) == 0 && WriteAll(fd, HdbContent(getpid())) && fstat(fd, &status) == 0;
    if (close(fd) != 0 || !written) {
        unlink(name.c_str());
        return std::nullopt;
    }
    return TemporaryLock{name, IdentityOf(status)};
}

std::mutex stepHookMutex;
std::function<void(port_lock_testing::Step, const std::string&)> stepHook;

void AtStep(port_lock_testing::Step step, const std::string& path) {
    std::function<void(port_lock_testing::Step, const std::string&)> hook;
    {
        const std::lock_guard lock(stepHookMutex);
        hook = stepHook;
    }
    if (hook) {
        hook(step, path);
    }
}

} // namespace

std::string LockFileName(const std::string& device) {
    std::string_view below = device;
    if (below.starts_with(devPrefix)) {
        below.remove_prefix(devPrefix.size());
    }
    while (below.starts_with('/')) {
        below.remove_prefix(1);
    }
    std::string name = "LCK..";
    name += below;
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

TLockClaim ReadLockClaim(const std::string& path) {
    return ReadLock(path).Claim();
}

void port_lock_testing::SetStepHook(std::function<void(Step, const std::string& path)> hook) {
    const std::lock_guard lock(stepHookMutex);
    stepHook = std::move(hook);
}

TPortLock::TPortLock(TPortLock&& other) noexcept
    : path(std::move(other.path)), claim(other.claim), held(std::exchange(other.held, false)), owner(other.owner),
      fileDevice(other.fileDevice), fileInode(other.fileInode), signalSlot(std::exchange(other.signalSlot, -1)) {}

TPortLock& TPortLock::operator=(TPortLock&& other) noexcept {
    if (this != &other) {
        Release();
        path = std::move(other.path);
        claim = other.claim;
        held = std::exchange(other.held, false);
        owner = other.owner;
        fileDevice = other.fileDevice;
        fileInode = other.fileInode;
        signalSlot = std::exchange(other.signalSlot, -1);
    }
    return *this;
}

// Another program's claim is respected even where we cannot write ourselves, so the folder
// is read before it is written.
//
// Other takers work in the same folder at the same time, and some remove a stale lock without
// looking at what they remove. So a stale file goes only if its name still stands for the file
// that was read (another taker may have put its live lock there meanwhile), and our link is
// ours only if the name still stands for our file afterwards (a taker that had read the stale
// one may have removed ours in its place).
TPortLock::Outcome TPortLock::Take(const std::string& lockDir, const std::string& device) {
    using port_lock_testing::Step;
    Release();
    path = lockDir + "/" + LockFileName(device);
    claim = {};
    // A folder we cannot even look into (not in group lock or uucp) tells us nothing.
    if (faccessat(AT_FDCWD, lockDir.c_str(), X_OK, AT_EACCESS) != 0) {
        return Outcome::skipped;
    }
    std::optional<TemporaryLock> temporary;
    const auto end = [&](Outcome outcome) {
        if (temporary) {
            unlink(temporary->name.c_str());
        }
        if (outcome == Outcome::skipped) {
            claim = {};
        }
        return outcome;
    };
    const auto isClaim = [](const TLockClaim& found) {
        return found.kind == TLockClaim::Kind::live || found.kind == TLockClaim::Kind::unreadable;
    };
    for (int attempt = 0; attempt < takeAttempts; ++attempt) {
        {
            const ReadLock found(path);
            claim = found.Claim();
            if (isClaim(claim)) {
                return end(Outcome::claimed);
            }
            if (claim.kind == TLockClaim::Kind::stale) {
                AtStep(Step::staleFound, path);
                if (!found.StillAt(path)) {
                    claim = {TLockClaim::Kind::unreadable, 0}; // replaced meanwhile; look again
                    continue;
                }
                if (unlink(path.c_str()) != 0 && errno != ENOENT) {
                    // Not ours to remove (a sticky folder, another user's lock): its owner is
                    // gone, so the port is free, but we cannot lock it either.
                    return end(Outcome::skipped);
                }
            }
        }
        if (!temporary) {
            temporary = WriteTemporaryLock(lockDir);
            if (!temporary) {
                return end(Outcome::skipped);
            }
        }
        if (link(temporary->name.c_str(), path.c_str()) != 0) {
            if (errno != EEXIST) {
                // A file system without hard links: we cannot lock race-free there.
                return end(Outcome::skipped);
            }
            claim = {TLockClaim::Kind::unreadable, 0}; // someone else was quicker; look again
            continue;
        }
        AtStep(Step::linked, path);
        const ReadLock linked(path);
        if (!linked.Is(temporary->file) || linked.Claim().pid != getpid()) {
            claim = linked.Claim();
            if (isClaim(claim)) {
                return end(Outcome::claimed);
            }
            continue; // removed again, and no one holds it: try again
        }
        unlink(temporary->name.c_str());
        held = true;
        owner = getpid();
        fileDevice = temporary->file.device;
        fileInode = temporary->file.inode;
        claim = {};
        signalSlot = RegisterForSignals(path);
        return Outcome::taken;
    }
    return end(Outcome::claimed);
}

void TPortLock::Release() {
    if (!held) {
        return;
    }
    held = false;
    UnregisterForSignals(std::exchange(signalSlot, -1));
    if (owner != getpid()) {
        return;
    }
    // Someone may have removed our lock and taken the port meanwhile; theirs stays. The PID
    // as well as the inode: once our file is removed, its inode number may be a new file's.
    const ReadLock now(path);
    if (now.Is({fileDevice, fileInode}) && now.Claim().kind == TLockClaim::Kind::live && now.Claim().pid == owner) {
        unlink(path.c_str());
    }
}
