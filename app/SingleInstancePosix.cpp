// SPDX-License-Identifier: MIT
#include "SingleInstance.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// How long a later start keeps trying to reach a first one that is still starting up.
constexpr auto reachPatience = std::chrono::seconds(2);
constexpr auto reachStep = std::chrono::milliseconds(20);
constexpr char raiseRequest = 'R';

template <class Call>
auto RetryOnInterrupt(Call call) {
    auto result = call();
    while (result == -1 && errno == EINTR)
        result = call();
    return result;
}

// A folder only this user may use: the claim and its socket must not be reachable by others.
bool IsPrivateFolder(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & 077) == 0;
}

std::string ClaimFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/' && IsPrivateFolder(runtime))
        return runtime;
    const std::string fallback = "/tmp/tavro-" + std::to_string(getuid());
    mkdir(fallback.c_str(), 0700);
    return IsPrivateFolder(fallback) ? fallback : std::string();
}

// FNV-1a: the same name for the same key in every build of the program.
std::string KeyName(const std::string& key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return std::string("tavro-") + text;
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

class TSingleInstance::Impl {
public:
    explicit Impl(const std::string& key) {
        const std::string folder = ClaimFolder();
        if (folder.empty())
            return; // nowhere to claim it: run
        const std::string base = folder + "/" + KeyName(key);
        socketPath = base + ".sock";
        lockFd = RetryOnInterrupt([&] { return open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); });
        if (lockFd < 0)
            return;
        if (RetryOnInterrupt([&] { return flock(lockFd, LOCK_EX | LOCK_NB); }) != 0) {
            first = errno != EWOULDBLOCK;
            CloseIfOpen(lockFd);
            if (!first)
                AskFirstToRaise();
            return;
        }
        Listen();
    }

    ~Impl() {
        if (wakeWrite >= 0) {
            const char stop = 0;
            RetryOnInterrupt([&] { return write(wakeWrite, &stop, 1); });
        }
        if (listener.joinable())
            listener.join();
        CloseIfOpen(wakeWrite);
        CloseIfOpen(wakeRead);
        if (listenFd >= 0) {
            unlink(socketPath.c_str());
            CloseIfOpen(listenFd);
        }
        CloseIfOpen(lockFd); // releases the claim
    }

    void SetRaise(std::function<void()> handler) {
        const std::lock_guard lock(mutex);
        raise = std::move(handler);
    }

    bool first = true;

private:
    // The claim is the lock; the socket is how later starts reach us. One left by a first
    // instance that was killed is replaced: the lock says nobody serves it any more.
    void Listen() {
        sockaddr_un address{};
        if (!SocketAddress(socketPath, address))
            return;
        unlink(socketPath.c_str());
        listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int wake[2];
        if (listenFd < 0 || bind(listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            listen(listenFd, 4) != 0 || pipe2(wake, O_CLOEXEC) != 0) {
            CloseIfOpen(listenFd);
            return;
        }
        wakeRead = wake[0];
        wakeWrite = wake[1];
        listener = std::thread([this] { Serve(); });
    }

    // Sleeps until a later start knocks or the instance ends.
    void Serve() {
        for (;;) {
            pollfd watch[2] = {{listenFd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
            if (RetryOnInterrupt([&] { return poll(watch, 2, -1); }) < 0 || watch[1].revents != 0)
                return;
            if ((watch[0].revents & POLLIN) == 0)
                continue;
            int peer = RetryOnInterrupt([&] { return accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC); });
            if (peer < 0)
                continue;
            char request = 0;
            const bool asked =
                RetryOnInterrupt([&] { return read(peer, &request, 1); }) == 1 && request == raiseRequest;
            CloseIfOpen(peer);
            if (!asked)
                continue;
            const std::lock_guard lock(mutex);
            if (raise)
                raise();
        }
    }

    void AskFirstToRaise() const {
        sockaddr_un address{};
        if (!SocketAddress(socketPath, address))
            return;
        const auto deadline = std::chrono::steady_clock::now() + reachPatience;
        do {
            int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return;
            const bool reached = RetryOnInterrupt([&] {
                                     return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
                                 }) == 0 &&
                                 RetryOnInterrupt([&] { return write(fd, &raiseRequest, 1); }) == 1;
            CloseIfOpen(fd);
            if (reached)
                return;
            std::this_thread::sleep_for(reachStep);
        } while (std::chrono::steady_clock::now() < deadline);
    }

    std::string socketPath;
    int lockFd = -1;
    int listenFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread listener;
    std::mutex mutex;
    std::function<void()> raise;
};

TSingleInstance::TSingleInstance(const std::string& key) : impl(std::make_unique<Impl>(key)) {}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::IsFirst() const {
    return impl->first;
}

void TSingleInstance::OnRaise(std::function<void()> raise) {
    impl->SetRaise(std::move(raise));
}
