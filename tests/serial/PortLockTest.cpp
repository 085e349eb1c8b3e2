// SPDX-License-Identifier: MIT
#include "PortLock.h"

#include "ForeignProgram.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

std::string Hdb(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

std::optional<std::string> Content(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(PortLockTest, FileNameIsTheDevicePathBelowDev) {
    const struct Row {
        std::string device;
        std::string name;
    } rows[] = {
        {"/dev/ttyUSB0", "LCK..ttyUSB0"},
        {"/dev/pts/5", "LCK..pts_5"},
        {"/dev/serial/by-id/usb-FTDI", "LCK..serial_by-id_usb-FTDI"},
        {"/tmp/x/COM1", "LCK..tmp_x_COM1"},
        {"/devices/ttyS0", "LCK..devices_ttyS0"}, // not below /dev
    };
    for (const auto& row : rows) {
        EXPECT_EQ(LockFileName(row.device), row.name) << row.device;
    }
}

// What each kind of lock file found in the folder means for a program that wants the port.
TEST(PortLockTest, ExistingLockFilesAreRespectedUnlessStale) {
    const ForeignProgram minicom;
    const pid_t ended = EndedProcessId();
    const pid_t self = getpid();
    const char binaryPid[4] = {static_cast<char>(minicom.pid & 0xFF), static_cast<char>((minicom.pid >> 8) & 0xFF),
                               static_cast<char>((minicom.pid >> 16) & 0xFF), 0};
    using Kind = TLockClaim::Kind;
    const struct Row {
        const char* description;
        std::optional<std::string> content; // nothing: no lock file
        Kind kind;
        pid_t pid;
        TPortLock::Outcome outcome;
    } rows[] = {
        {"no lock file", std::nullopt, Kind::none, 0, TPortLock::Outcome::taken},
        {"HDB of a live process", Hdb(minicom.pid), Kind::live, minicom.pid, TPortLock::Outcome::claimed},
        {"bare decimal", std::to_string(minicom.pid), Kind::live, minicom.pid, TPortLock::Outcome::claimed},
        {"bare decimal and newline", std::to_string(minicom.pid) + "\n", Kind::live, minicom.pid,
         TPortLock::Outcome::claimed},
        {"PID, program and user on three lines", Hdb(minicom.pid) + "minicom\nalice\n", Kind::live, minicom.pid,
         TPortLock::Outcome::claimed},
        {"this very process (another of its ports)", Hdb(self), Kind::live, self, TPortLock::Outcome::claimed},
        {"a process that has ended", Hdb(ended), Kind::stale, ended, TPortLock::Outcome::taken},
        {"binary PID", std::string(binaryPid, sizeof binaryPid), Kind::unreadable, 0, TPortLock::Outcome::claimed},
        {"garbage", "hello\n", Kind::unreadable, 0, TPortLock::Outcome::claimed},
        {"empty", "", Kind::unreadable, 0, TPortLock::Outcome::claimed},
        {"PID 0", Hdb(0), Kind::unreadable, 0, TPortLock::Outcome::claimed},
        {"negative PID", "-1\n", Kind::unreadable, 0, TPortLock::Outcome::claimed},
        {"PID past the range", "99999999999\n", Kind::unreadable, 0, TPortLock::Outcome::claimed},
        {"PID with trailing text", std::to_string(minicom.pid) + "x\n", Kind::unreadable, 0,
         TPortLock::Outcome::claimed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        TempDir locks;
        const fs::path file = locks.path / "LCK..ttyUSB0";
        if (row.content) {
            std::ofstream(file, std::ios::binary) << *row.content;
        }
        const TLockClaim claim = ReadLockClaim(file.string());
        EXPECT_EQ(claim.kind, row.kind);
        EXPECT_EQ(claim.pid, row.pid);

        TPortLock lock;
        EXPECT_EQ(lock.Take(locks.path.string(), "/dev/ttyUSB0"), row.outcome);
        EXPECT_EQ(lock.Path(), file.string());
        if (row.outcome == TPortLock::Outcome::taken) {
            EXPECT_TRUE(lock.IsHeld());
            EXPECT_EQ(Content(file), Hdb(self)) << "our lock in HDB format";
            EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_read, fs::perms::others_read);
            lock.Release();
            EXPECT_FALSE(fs::exists(file)) << "released";
        } else {
            EXPECT_FALSE(lock.IsHeld());
            EXPECT_EQ(lock.Claim().kind, row.kind);
            EXPECT_EQ(lock.Claim().pid, row.pid);
            EXPECT_EQ(Content(file), row.content) << "another's lock is left as it was";
        }
        // Nothing else is left in the folder: no temporary file, no second lock.
        EXPECT_EQ(std::distance(fs::directory_iterator(locks.path), {}),
                  row.content && row.kind != Kind::stale ? 1 : 0);
    }
}

// Another program steps in while we take the lock: between our finding the old lock stale and
// our removing it, or right after our link. Its own lock must stay, and we must not think the
// port ours.
TEST(PortLockTest, LockPutInPlaceByAnotherTakerMeanwhileIsLeftAlone) {
    using port_lock_testing::Step;
    const ForeignProgram minicom;
    const pid_t ended = EndedProcessId();
    const pid_t self = getpid();
    enum class Does { nothing, putsItsLock, putsAStaleLock, removesIt };
    const struct Row {
        const char* description;
        Step step;
        Does does;
        TPortLock::Outcome outcome;
    } rows[] = {
        {"nobody steps in", Step::staleFound, Does::nothing, TPortLock::Outcome::taken},
        {"a live lock replaces the stale one", Step::staleFound, Does::putsItsLock, TPortLock::Outcome::claimed},
        {"another stale lock replaces it", Step::staleFound, Does::putsAStaleLock, TPortLock::Outcome::taken},
        {"another taker removes the stale one", Step::staleFound, Does::removesIt, TPortLock::Outcome::taken},
        {"a live lock replaces ours", Step::linked, Does::putsItsLock, TPortLock::Outcome::claimed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        TempDir locks;
        const fs::path file = locks.path / "LCK..ttyUSB0";
        std::ofstream(file) << Hdb(ended);
        bool steppedIn = false;
        port_lock_testing::SetStepHook([&](Step step, const std::string& path) {
            EXPECT_EQ(path, file.string());
            if (step != row.step || steppedIn) {
                return;
            }
            steppedIn = true;
            fs::remove(file);
            if (row.does == Does::putsItsLock) {
                std::ofstream(file) << Hdb(minicom.pid);
            } else if (row.does == Does::putsAStaleLock) {
                std::ofstream(file) << Hdb(ended);
            }
        });
        TPortLock lock;
        const TPortLock::Outcome outcome = lock.Take(locks.path.string(), "/dev/ttyUSB0");
        port_lock_testing::SetStepHook(nullptr);

        EXPECT_TRUE(steppedIn || row.does == Does::nothing);
        EXPECT_EQ(outcome, row.outcome);
        EXPECT_EQ(lock.IsHeld(), row.outcome == TPortLock::Outcome::taken);
        if (row.outcome == TPortLock::Outcome::claimed) {
            EXPECT_EQ(lock.Claim().kind, TLockClaim::Kind::live);
            EXPECT_EQ(lock.Claim().pid, minicom.pid);
        }
        EXPECT_EQ(Content(file), Hdb(row.outcome == TPortLock::Outcome::taken ? self : minicom.pid));
        EXPECT_EQ(std::distance(fs::directory_iterator(locks.path), {}), 1) << "no temporary file is left";
        lock.Release();
        EXPECT_EQ(fs::exists(file), row.outcome == TPortLock::Outcome::claimed) << "after release";
    }
}

TEST(PortLockTest, UnusableFoldersAreSkippedWithoutTakingAnything) {
    TempDir top;
    std::ofstream(top.path / "file") << "";
    const struct Row {
        const char* description;
        fs::path lockDir;
    } rows[] = {
        {"missing", top.path / "missing"},
        {"below a regular file", top.path / "file" / "lock"},
        {"a regular file", top.path / "file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        TPortLock lock;
        EXPECT_EQ(lock.Take(row.lockDir.string(), "/dev/ttyUSB0"), TPortLock::Outcome::skipped);
        EXPECT_FALSE(lock.IsHeld());
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(top.path), {}), 1);
}

// Root may write anywhere, so the user without write access to the lock folder (not in group
// lock or uucp) is played by a child that gives up root.
TEST(PortLockTest, FolderWeMayNotWriteStillShowsOthersLocks) {
    const ForeignProgram minicom;
    TempDir locks;
    ASSERT_EQ(chmod(locks.path.c_str(), 0755), 0);
    std::ofstream(locks.path / "LCK..ttyS1") << Hdb(minicom.pid);
    const struct Row {
        const char* device;
        TPortLock::Outcome outcome;
    } rows[] = {
        {"/dev/ttyS1", TPortLock::Outcome::claimed}, // minicom's lock is respected all the same
        {"/dev/ttyS2", TPortLock::Outcome::skipped}, // free, and we cannot lock it: go on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.device);
        const pid_t child = fork();
        if (child == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                _exit(100);
            }
            TPortLock lock;
            _exit(static_cast<int>(lock.Take(locks.path.string(), row.device)));
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(row.outcome));
    }
    EXPECT_FALSE(fs::exists(locks.path / "LCK..ttyS2"));
}

TEST(PortLockTest, ReleaseRemovesOnlyOurOwnLock) {
    const ForeignProgram minicom;
    const struct Row {
        const char* description;
        bool replacedByAnother; // someone removed our lock and took the port meanwhile
        bool releasedInAForkedChild;
        bool removed;
    } rows[] = {
        {"ours", false, false, true},
        {"replaced by another program's", true, false, false},
        {"released first by a forked child (which only inherited it)", false, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        TempDir locks;
        const fs::path file = locks.path / "LCK..ttyACM0";
        TPortLock lock;
        ASSERT_EQ(lock.Take(locks.path.string(), "/dev/ttyACM0"), TPortLock::Outcome::taken);
        if (row.replacedByAnother) {
            fs::remove(file);
            std::ofstream(file) << Hdb(minicom.pid);
        }
        if (row.releasedInAForkedChild) {
            const pid_t child = fork();
            if (child == 0) {
                lock.Release();
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_TRUE(fs::exists(file)) << "the child removed its parent's lock";
        }
        lock.Release();
        EXPECT_EQ(fs::exists(file), !row.removed);
    }
}

TEST(PortLockTest, MovedLockIsReleasedOnceByItsNewOwner) {
    TempDir locks;
    const fs::path file = locks.path / "LCK..ttyUSB3";
    std::optional<TPortLock> first(std::in_place);
    ASSERT_EQ(first->Take(locks.path.string(), "/dev/ttyUSB3"), TPortLock::Outcome::taken);
    TPortLock second(std::move(*first));
    first.reset();
    EXPECT_TRUE(fs::exists(file)) << "the moved-from lock released it";
    EXPECT_TRUE(second.IsHeld());

    TPortLock third;
    ASSERT_EQ(third.Take(locks.path.string(), "/dev/ttyUSB4"), TPortLock::Outcome::taken);
    third = std::move(second); // lets go of ttyUSB4, takes over ttyUSB3
    EXPECT_FALSE(fs::exists(locks.path / "LCK..ttyUSB4"));
    EXPECT_TRUE(fs::exists(file));
    third.Release();
    EXPECT_FALSE(fs::exists(file));
}

extern "C" void NoteSignal(int) {}

// A child takes a lock and then gets a signal; what is left of the lock afterwards.
TEST(PortLockTest, EndingSignalsRemoveTheLock) {
    enum class Before { defaultAction, ignored, handled };
    const struct Row {
        const char* description;
        int signal;
        Before before;
        bool ends;
        bool lockLeft;
    } rows[] = {
        {"SIGTERM", SIGTERM, Before::defaultAction, true, false},
        {"SIGINT", SIGINT, Before::defaultAction, true, false},
        {"SIGHUP", SIGHUP, Before::defaultAction, true, false},
        // The program keeps running (or shuts down in order) and keeps its ports meanwhile.
        {"SIGTERM ignored by the program", SIGTERM, Before::ignored, false, true},
        {"SIGTERM handled by the program", SIGTERM, Before::handled, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.description);
        TempDir locks;
        const fs::path file = locks.path / "LCK..ttyUSB0";
        const pid_t child = fork();
        if (child == 0) {
            struct sigaction action {};
            sigemptyset(&action.sa_mask);
            action.sa_handler = row.before == Before::ignored   ? SIG_IGN
                                : row.before == Before::handled ? NoteSignal
                                                                : SIG_DFL;
            sigaction(row.signal, &action, nullptr);
            TPortLock lock;
            if (lock.Take(locks.path.string(), "/dev/ttyUSB0") != TPortLock::Outcome::taken) {
                _exit(100);
            }
            raise(row.signal);
            _exit(0); // without releasing: as if the program were still running
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (row.ends) {
            ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
            EXPECT_EQ(WTERMSIG(status), row.signal);
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 0);
        }
        EXPECT_EQ(fs::exists(file), row.lockLeft);
    }
}

} // namespace
