// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

// The UUCP lock file by which programs on Linux announce that they use a serial device
// (minicom, picocom, Qt Serial Port, ModemManager's careful neighbours): a file
// lockDir/LCK..<device below /dev, with '/' as '_'> holding the owner's PID.

// "LCK..ttyUSB0" for "/dev/ttyUSB0", "LCK..pts_5" for "/dev/pts/5". A device outside /dev is
// named by its whole path ("/tmp/x/COM1" gives "LCK..tmp_x_COM1").
std::string LockFileName(const std::string& device);

// What a lock file says about its device.
struct TLockClaim {
    enum class Kind {
        none,       // no lock file
        live,       // names a process that exists (this one included)
        stale,      // names a process that no longer exists
        unreadable, // exists, but holds no PID we can read: respected as a claim
    };
    Kind kind = Kind::none;
    pid_t pid = 0; // for live and stale
};

// Reads the lock file `path`: a PID as HDB ASCII ("%10d\n") or a bare decimal on the first
// line. Anything else (the old binary PID, garbage, an empty file, no read access) is
// unreadable.
TLockClaim ReadLockClaim(const std::string& path);

// Holds the lock file of one device for as long as it lives. The file is created complete
// (written under a temporary name, then linked into place), so no other program can ever read
// a half-written PID, and two takers cannot both win. It is removed by Release, by the
// destructor, and, should the process be ended by SIGTERM, SIGINT or SIGHUP whose default
// action was in force, by a signal handler installed with the first lock.
class TPortLock {
public:
    enum class Outcome {
        taken,   // the lock is ours now
        skipped, // the lock folder is missing or not ours to write: nothing held, go on
        claimed, // another process (or another port of this one) holds it: keep away
    };

    TPortLock() = default;
    ~TPortLock() { Release(); }
    TPortLock(TPortLock&& other) noexcept;
    TPortLock& operator=(TPortLock&& other) noexcept;
    TPortLock(const TPortLock&) = delete;
    TPortLock& operator=(const TPortLock&) = delete;

    // Takes the lock of `device` in `lockDir`, first removing a stale one. After `claimed`,
    // Claim() tells who holds it. Releases a lock held before. Raises nothing.
    Outcome Take(const std::string& lockDir, const std::string& device);
    // Removes the lock file if this object holds it and it still names this process.
    void Release();

    bool IsHeld() const { return held; }
    // The lock file's path, after any Take.
    const std::string& Path() const { return path; }
    // Who holds the lock, after Take returned `claimed`.
    const TLockClaim& Claim() const { return claim; }

private:
    std::string path;
    TLockClaim claim;
    bool held = false;
    pid_t owner = 0;      // the process that took it: a forked child must not remove it
    dev_t fileDevice = 0; // our lock file, to tell it from one put in its place
    ino_t fileInode = 0;
    int signalSlot = -1;
};

// For tests, which play another program stepping in while a lock is taken: the hook is called
// with the lock file's path right after a stale lock was found (before it is removed) and right
// after our lock was linked into place (before it is checked). An empty function removes it.
namespace port_lock_testing {
enum class Step { staleFound, linked };
void SetStepHook(std::function<void(Step, const std::string& path)> hook);
} // namespace port_lock_testing
