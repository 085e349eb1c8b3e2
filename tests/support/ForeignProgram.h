// SPDX-License-Identifier: MIT
// Another program on the machine, as far as the ports' good manners can tell: a process of
// its own name that lives until the object goes, and, if asked, holds a device's lock file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

class ForeignProgram {
public:
    explicit ForeignProgram(const char* name = "minicom") {
        int ready[2];
        if (pipe(ready) != 0 || pipe(hold) != 0) {
            throw std::runtime_error("pipe failed");
        }
        pid = fork();
        if (pid == 0) {
            // Only calls that are safe after fork in a threaded process.
            prctl(PR_SET_NAME, name);
            close(ready[0]);
            close(hold[1]);
            const char byte = 1;
            (void)!write(ready[1], &byte, 1);
            char ignored;
            (void)!read(hold[0], &ignored, 1); // until the parent lets go
            _exit(0);
        }
        close(ready[1]);
        close(hold[0]);
        char byte = 0;
        const bool started = pid > 0 && read(ready[0], &byte, 1) == 1;
        close(ready[0]);
        if (!started) {
            throw std::runtime_error("the foreign program did not start");
        }
    }
    ~ForeignProgram() {
        close(hold[1]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!lockFile.empty()) {
            std::error_code ignored;
            std::filesystem::remove(lockFile, ignored);
        }
    }
    ForeignProgram(const ForeignProgram&) = delete;
    ForeignProgram& operator=(const ForeignProgram&) = delete;

    // Writes the HDB lock file `file` naming this program, as minicom does.
    void Lock(const std::filesystem::path& file) {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
        std::ofstream(file) << text;
        lockFile = file;
    }

    pid_t pid = -1;

private:
    int hold[2] = {-1, -1};
    std::filesystem::path lockFile;
};

// The PID of a process that has ended: a lock naming it is stale.
inline pid_t EndedProcessId() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}
