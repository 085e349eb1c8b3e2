// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Every file system call the journal makes, so that the journal's own rules (what waits in
// memory, what is cut back, which names are free, when a file is made again) stay free of the
// platform, and so that tests can watch and fail each call. SystemJournalFileSystem() is the
// platform's own (JournalPosix.cpp; JournalWin32.cpp on Windows).
//
// What each call must guarantee, on every platform:
// - Errors are errno values of <cerrno>, 0 meaning success; TJournalError passes them on to the
//   user. Another system maps its own codes onto them (ERROR_FILE_EXISTS to EEXIST,
//   ERROR_DISK_FULL to ENOSPC, ERROR_ACCESS_DENIED to EACCES, anything else to EIO).
// - A call interrupted by a signal is retried inside, never reported.
// - Calls may come from several threads at once, but never two on one handle at a time.
// - Paths are UTF-8, with '/' between their parts.
class TJournalFileSystem {
public:
    // An open file: a descriptor on POSIX, a HANDLE on Windows. Whoever made it closes it, once.
    using Handle = std::intptr_t;
    static constexpr Handle noHandle = -1;

    // What a read or write did: bytes moved, or an error.
    struct Transfer {
        std::size_t size = 0;
        int error = 0;
    };

    virtual ~TJournalFileSystem() = default;

    // Makes the file `path` and opens it for reading and writing, readable and writable by the
    // user only (mode 0600), into `made`. Fails with EEXIST when anything has that name, a
    // symbolic link included, which is never followed. Checking and making are one atomic step,
    // so of two programs making one name exactly one succeeds: that is what claims a run's
    // stem. (open with O_CREAT | O_EXCL | O_NOFOLLOW; CreateFileW with CREATE_NEW.)
    virtual int CreateNew(const std::string& path, Handle& made) = 0;
    virtual void Close(Handle file) = 0;
    // Writes up to `size` bytes at `offset`, whatever the file's current position, and says how
    // many it wrote: at least one, unless it reports an error. (pwrite; WriteFile with the
    // offset in its OVERLAPPED.)
    virtual Transfer WriteAt(Handle file, const unsigned char* data, std::size_t size, std::uint64_t offset) = 0;
    // Reads up to `size` bytes at `offset`; none, without an error, at the file's end. (pread;
    // ReadFile with the offset in its OVERLAPPED.)
    virtual Transfer ReadAt(Handle file, unsigned char* data, std::size_t size, std::uint64_t offset) = 0;
    // Returns 0 only once every byte written to the file, and its length, are on stable storage,
    // so that neither a killed program nor a power cut loses them. (fdatasync;
    // FlushFileBuffers.)
    virtual int SyncData(Handle file) = 0;
    // Sets the file's length; bytes past it are gone. (ftruncate; SetFileInformationByHandle
    // with FileEndOfFileInfo.)
    virtual int Truncate(Handle file, std::uint64_t length) = 0;
    // How many names the open file has: 0 once it was deleted while open (what is written to it
    // then is lost when it is closed); a file renamed or moved keeps its name count. (fstat's
    // st_nlink; GetFileInformationByHandle's nNumberOfLinks, 0 when FileStandardInfo says
    // DeletePending.)
    virtual int LinkCount(Handle file, std::uint64_t& count) = 0;
    // Makes the folder `path`, whose parent exists, accessible to the user only (mode 0700).
    // Returns 0 when `path` is a folder afterwards, `made` telling whether this call made it;
    // EEXIST when something else than a folder has that name. (mkdir; CreateDirectoryW.)
    virtual int MakeFolder(const std::string& path, bool& made) = 0;
    // Returns 0 only once the names made in the folder are on stable storage, so that a power cut
    // cannot lose the entry of a new file or folder. (fsync of the folder opened read-only;
    // FlushFileBuffers of the folder opened with FILE_FLAG_BACKUP_SEMANTICS.)
    virtual int SyncFolder(const std::string& path) = 0;
    // The names of the folder's entries, into `names`. (readdir; FindFirstFileW and
    // FindNextFileW.)
    virtual int ListFolder(const std::string& path, std::vector<std::string>& names) = 0;
};

// The platform's file system, which the program's journal uses. It lives as long as the program.
TJournalFileSystem& SystemJournalFileSystem();
