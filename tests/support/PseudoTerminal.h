// SPDX-License-Identifier: MIT
#pragma once

#include "TempDir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

// A folder of COMn links that the ports of this test process resolve their names in, so that
// nothing can reach the machine's own serial ports, and a lock folder of its own in place of
// the machine's /run/lock.
class TestPortDir : public TempDir {
public:
    TestPortDir() {
        if (const char* before = std::getenv("TAVRO_LOCK_DIR")) {
            savedLockDir = before;
        }
        setenv("TAVRO_PORT_DIR", path.c_str(), 1);
        setenv("TAVRO_LOCK_DIR", lockDir.path.c_str(), 1);
    }
    ~TestPortDir() {
        unsetenv("TAVRO_PORT_DIR");
        if (savedLockDir.empty()) {
            unsetenv("TAVRO_LOCK_DIR");
        } else {
            setenv("TAVRO_LOCK_DIR", savedLockDir.c_str(), 1);
        }
    }

    TempDir lockDir;

private:
    std::string savedLockDir;
};

// One pseudo-terminal pair playing a device: the port under test opens the slave side through
// the link dir/COMn; the test talks on the master side. The test keeps its own descriptor of
// the slave to look at the line settings the port gave it.
class PseudoTerminal {
public:
    PseudoTerminal(const std::filesystem::path& dir, int number) {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        link = dir / ("COM" + std::to_string(number));
        std::filesystem::create_symlink(name, link);
    }
    ~PseudoTerminal() {
        Unplug();
        close(slave);
        std::error_code ignored;
        std::filesystem::remove(link, ignored);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    void Send(const std::vector<unsigned char>& bytes) const {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = write(master, bytes.data() + sent, bytes.size() - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (!Wait(POLLOUT, std::chrono::seconds(5))) {
                throw std::runtime_error("the port side does not take bytes");
            }
        }
    }

    // Everything the port sent, up to `count` bytes, waiting at most `within` for them.
    std::vector<unsigned char> Receive(std::size_t count, std::chrono::milliseconds within) const {
        const auto deadline = std::chrono::steady_clock::now() + within;
        std::vector<unsigned char> bytes;
        unsigned char chunk[4096];
        while (bytes.size() < count) {
            const ssize_t n = read(master, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n > 0) {
                bytes.insert(bytes.end(), chunk, chunk + n);
                continue;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Wait(POLLIN, left)) {
                break;
            }
        }
        return bytes;
    }

    // The device goes away, as when a USB adapter is pulled.
    void Unplug() {
        if (master >= 0) {
            close(master);
            master = -1;
        }
    }

    int master = -1;
    int slave = -1;
    std::filesystem::path link;

private:
    bool Wait(short events, std::chrono::milliseconds within) const {
        pollfd watch{master, events, 0};
        return poll(&watch, 1, static_cast<int>(within.count())) > 0;
    }
};
