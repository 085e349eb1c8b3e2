// SPDX-License-Identifier: MIT
// The journal's platform layer on POSIX systems: its folder by the XDG rules, local time, and
// its file system calls.
#include "Journal.h"
#include "JournalFileSystem.h"
#include "JournalPlatform.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t folderMode = 0700;
constexpr mode_t fileMode = 0600;

template <class Call>
auto RetryOnInterrupt(Call call) {
    auto result = call();
    while (result == -1 && errno == EINTR)
        result = call();
    return result;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

int Descriptor(TJournalFileSystem::Handle file) {
    return static_cast<int>(file);
}

class PosixFileSystem final : public TJournalFileSystem {
public:
    int CreateNew(const std::string& path, Handle& made) override {
        const int fd = RetryOnInterrupt(
            [&] { return open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, fileMode); });
        if (fd < 0)
            return errno;
        made = fd;
        return 0;
    }

    void Close(Handle file) override { close(Descriptor(file)); }

    Transfer WriteAt(Handle file, const unsigned char* data, std::size_t size, std::uint64_t offset) override {
        const ssize_t n =
            RetryOnInterrupt([&] { return pwrite(Descriptor(file), data, size, static_cast<off_t>(offset)); });
        if (n < 0)
            return {0, errno};
        // A write that takes nothing and says nothing is a full device by another name.
        return n == 0 && size > 0 ? Transfer{0, EIO} : Transfer{static_cast<std::size_t>(n), 0};
    }

    Transfer ReadAt(Handle file, unsigned char* data, std::size_t size, std::uint64_t offset) override {
        const ssize_t n =
            RetryOnInterrupt([&] { return pread(Descriptor(file), data, size, static_cast<off_t>(offset)); });
        if (n < 0)
            return {0, errno};
        return {static_cast<std::size_t>(n), 0};
    }

    int SyncData(Handle file) override {
        return RetryOnInterrupt([&] { return fdatasync(Descriptor(file)); }) == 0 ? 0 : errno;
    }

    int Truncate(Handle file, std::uint64_t length) override {
        return RetryOnInterrupt([&] { return ftruncate(Descriptor(file), static_cast<off_t>(length)); }) == 0 ? 0
                                                                                                              : errno;
    }

    int LinkCount(Handle file, std::uint64_t& count) override {
        struct stat info {};
        if (fstat(Descriptor(file), &info) != 0)
            return errno;
        count = info.st_nlink;
        return 0;
    }

    int MakeFolder(const std::string& path, bool& made) override {
        made = mkdir(path.c_str(), folderMode) == 0;
        if (made)
            return 0;
        if (errno != EEXIST)
            return errno;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0)
            return errno;
        return S_ISDIR(info.st_mode) ? 0 : EEXIST;
    }

    int SyncFolder(const std::string& path) override {
        const int fd = RetryOnInterrupt([&] { return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
        if (fd < 0)
            return errno;
        const int error = RetryOnInterrupt([&] { return fsync(fd); }) == 0 ? 0 : errno;
        close(fd);
        return error;
    }

    int ListFolder(const std::string& path, std::vector<std::string>& names) override {
        DIR* folder = opendir(path.c_str());
        if (!folder)
            return errno;
        errno = 0;
        while (const dirent* entry = readdir(folder))
            names.emplace_back(entry->d_name);
        const int error = errno;
        closedir(folder);
        return error;
    }
};

} // namespace

std::string JournalFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const std::string base = dataHome && dataHome[0] == '/' ? dataHome : HomeFolder() + "/.local/share";
    return (base.ends_with('/') ? base : base + "/") + "tavro/received";
}

std::tm JournalLocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

TJournalFileSystem& SystemJournalFileSystem() {
    static PosixFileSystem system;
    return system;
}
