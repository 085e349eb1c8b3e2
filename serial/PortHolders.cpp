// SPDX-License-Identifier: MIT
#include "PortHolders.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t commandLineBytes = 4096;

// Closes a directory stream (and the descriptor under it) on every path.
class DirStream {
public:
    explicit DirStream(DIR* stream) : stream(stream) {}
    ~DirStream() {
        if (stream != nullptr) {
            closedir(stream);
        }
    }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;
    DIR* get() const { return stream; }

private:
    DIR* stream;
};

bool IsPid(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

// Calls visit(procFd, pidName) for every process folder of the tree.
template <class Visit>
void ForEachProcess(const std::string& procRoot, Visit visit) {
    const DirStream proc(opendir(procRoot.c_str()));
    if (proc.get() == nullptr) {
        return;
    }
    const int procFd = dirfd(proc.get());
    while (const dirent* entry = readdir(proc.get())) {
        if (IsPid(entry->d_name) && !visit(procFd, entry->d_name)) {
            return;
        }
    }
}

// Up to `limit` bytes of the file `name` below the folder `dirFd`; empty when unreadable.
std::string ReadSmallFile(int dirFd, const std::string& name, std::size_t limit) {
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    std::string content(limit, '\0');
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = read(fd, content.data() + got, limit - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    content.resize(got);
    return content;
}

std::string FirstLine(std::string text) {
    text.resize(std::min(text.size(), text.find('\n')));
    return text;
}

std::string LinkTarget(int dirFd, const std::string& name) {
    char target[4096];
    const ssize_t n = readlinkat(dirFd, name.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

std::string LastComponent(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace

std::string ProcessName(const std::string& procRoot, pid_t pid) {
    const DirStream proc(opendir(procRoot.c_str()));
    if (proc.get() == nullptr) {
        return {};
    }
    return FirstLine(ReadSmallFile(dirfd(proc.get()), std::to_string(pid) + "/comm", 64));
}

// Runs at every open attempt of a real device, so it keeps to one readlink per descriptor,
// relative to already opened folders, and stops at the first match. An ordinary user can read
// only the descriptors of their own processes, which is the case that matters: another
// program they started.
std::optional<TProcessInfo> FindDeviceHolder(const std::string& procRoot, const std::string& device, pid_t self) {
    const std::string selfName = std::to_string(self);
    std::optional<TProcessInfo> holder;
    ForEachProcess(procRoot, [&](int procFd, const char* pidName) {
        if (selfName == pidName) {
            return true;
        }
        const int fdFolder = openat(procFd, (std::string(pidName) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdFolder < 0) {
            return true;
        }
        const DirStream fds(fdopendir(fdFolder));
        if (fds.get() == nullptr) {
            close(fdFolder);
            return true;
        }
        char target[4096];
        while (const dirent* entry = readdir(fds.get())) {
            const ssize_t n = readlinkat(fdFolder, entry->d_name, target, sizeof target);
            if (n == static_cast<ssize_t>(device.size()) && std::memcmp(target, device.data(), device.size()) == 0) {
                const auto pid = static_cast<pid_t>(std::stol(pidName));
                holder = TProcessInfo{pid, FirstLine(ReadSmallFile(procFd, std::string(pidName) + "/comm", 64))};
                return false;
            }
        }
        return true;
    });
    return holder;
}

std::set<std::string> GettyTerminals(const std::string& procRoot) {
    std::set<std::string> terminals;
    ForEachProcess(procRoot, [&](int procFd, const char* pidName) {
        const std::string folder = pidName;
        if (FirstLine(ReadSmallFile(procFd, folder + "/comm", 64)).find("getty") == std::string::npos) {
            return true;
        }
        const std::string commandLine = ReadSmallFile(procFd, folder + "/cmdline", commandLineBytes);
        for (std::size_t start = 0; start < commandLine.size();) {
            const std::size_t end = std::min(commandLine.find('\0', start), commandLine.size());
            if (end > start) {
                terminals.insert(LastComponent(std::string_view(commandLine).substr(start, end - start)));
            }
            start = end + 1;
        }
        if (const std::string input = LinkTarget(procFd, folder + "/fd/0"); !input.empty()) {
            terminals.insert(LastComponent(input));
        }
        return true;
    });
    return terminals;
}
