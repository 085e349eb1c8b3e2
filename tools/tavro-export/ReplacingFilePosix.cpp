// SPDX-License-Identifier: MIT
// ReplacingFile with POSIX calls; ReplacingFileWin32.cpp is the Windows one.
#include "Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace exporter {

namespace {

std::system_error systemError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

// The folder part of a path, "." for a bare name.
std::filesystem::path folderOf(const std::filesystem::path& path) {
    const std::filesystem::path parent = path.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

} // namespace

ReplacingFile::ReplacingFile(std::filesystem::path target) : target(std::move(target)) {
    const std::filesystem::path folder = folderOf(this->target);
    // Appended piece by piece: GCC 12 at -O3 warns wrongly about "." + name (-Wrestrict).
    std::string name = ".";
    name += this->target.filename().string();
    name += ".XXXXXX";
    std::string pattern = (folder / name).string();
    fd = ::mkstemp(pattern.data());
    if (fd < 0)
        throw systemError("cannot create a temporary file in " + folder.string());
    temporary = pattern;
    // mkstemp makes the file private; a table is an ordinary document. An existing file keeps
    // its own permissions.
    struct stat existing {};
    mode_t mode = 0;
    if (::stat(this->target.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
}

ReplacingFile::~ReplacingFile() {
    if (fd >= 0)
        ::close(fd);
    if (!committed)
        ::unlink(temporary.c_str());
}

void ReplacingFile::Commit() {
    if (::fsync(fd) != 0)
        throw systemError("cannot write " + target.string());
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        throw systemError("cannot write " + target.string());
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        throw systemError("cannot replace " + target.string());
    committed = true;
    // The new name must survive a power cut too.
    const int folder = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

} // namespace exporter
