// SPDX-License-Identifier: MIT
// ReplacingFile with Win32 calls; ReplacingFilePosix.cpp is the POSIX one.
#include "Output.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <random>
#include <system_error>

namespace exporter {

namespace {

constexpr int nameAttempts = 100;

std::system_error errnoError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

std::system_error lastError(const std::string& what) {
    return std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

std::filesystem::path folderOf(const std::filesystem::path& path) {
    const std::filesystem::path parent = path.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

// Six letters and digits, as mkstemp puts in place of its XXXXXX.
std::wstring randomSuffix(std::random_device& random) {
    constexpr wchar_t letters[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::wstring suffix;
    for (int i = 0; i < 6; ++i)
        suffix += letters[random() % (sizeof letters / sizeof letters[0] - 1)];
    return suffix;
}

} // namespace

ReplacingFile::ReplacingFile(std::filesystem::path target) : target(std::move(target)) {
    const std::filesystem::path folder = folderOf(this->target);
    std::random_device random;
    // _O_EXCL never takes over a file that exists, so a clash only costs another name. The
    // file is not shared for writing while it is being filled.
    for (int attempt = 0; attempt < nameAttempts; ++attempt) {
        const std::filesystem::path candidate =
            folder / (L"." + this->target.filename().wstring() + L"." + randomSuffix(random));
        const errno_t failed =
            _wsopen_s(&fd, candidate.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYWR,
                      _S_IREAD | _S_IWRITE);
        if (failed == 0) {
            temporary = candidate;
            return;
        }
        fd = -1;
        if (failed != EEXIST)
            break;
    }
    throw errnoError("cannot create a temporary file in " + folder.string());
}

ReplacingFile::~ReplacingFile() {
    if (fd >= 0)
        _close(fd);
    if (!committed && !temporary.empty())
        DeleteFileW(temporary.c_str());
}

void ReplacingFile::Commit() {
    if (_commit(fd) != 0)
        throw errnoError("cannot write " + target.string());
    const int closed = _close(fd);
    fd = -1;
    if (closed != 0)
        throw errnoError("cannot write " + target.string());
    // ReplaceFileW keeps an existing table's permissions (its ACL) and attributes, as the POSIX
    // version keeps its mode; it fails on a target that does not exist, which MoveFileExW then
    // moves into place, returning only once the move is on disk.
    if (!ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr)) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND ||
            !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
            throw lastError("cannot replace " + target.string());
    }
    committed = true;
}

} // namespace exporter
