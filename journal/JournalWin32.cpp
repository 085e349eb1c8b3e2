// SPDX-License-Identifier: MIT
// The journal's platform layer on Windows: its folder under %LOCALAPPDATA%, local time, and its
// file system calls with wide-character paths.
#include "Journal.h"
#include "JournalFileSystem.h"
#include "JournalPlatform.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

// The errno values that the journal's interface speaks (see JournalFileSystem.h).
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    default:
        return EIO;
    }
}

int LastErrno() {
    return ErrnoOf(GetLastError());
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return {};
    std::string utf8(static_cast<std::size_t>(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

HANDLE NativeHandle(TJournalFileSystem::Handle file) {
    return reinterpret_cast<HANDLE>(file);
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

// One call moves at most this much, so that a size never overflows a DWORD.
constexpr std::size_t largestTransfer = 1u << 30;

class Win32FileSystem final : public TJournalFileSystem {
public:
    int CreateNew(const std::string& path, Handle& made) override {
        // CREATE_NEW fails on any name that exists, a link included, so nothing is followed.
        // Not shared for writing: only this run appends to its files.
        const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return LastErrno();
        made = reinterpret_cast<Handle>(file);
        return 0;
    }

    void Close(Handle file) override { CloseHandle(NativeHandle(file)); }

    Transfer WriteAt(Handle file, const unsigned char* data, std::size_t size, std::uint64_t offset) override {
        OVERLAPPED at = At(offset);
        DWORD written = 0;
        const DWORD asked = static_cast<DWORD>(std::min(size, largestTransfer));
        if (!WriteFile(NativeHandle(file), data, asked, &written, &at))
            return {0, LastErrno()};
        // A write that takes nothing and says nothing is a full device by another name.
        return written == 0 && size > 0 ? Transfer{0, EIO} : Transfer{written, 0};
    }

    Transfer ReadAt(Handle file, unsigned char* data, std::size_t size, std::uint64_t offset) override {
        OVERLAPPED at = At(offset);
        DWORD got = 0;
        const DWORD asked = static_cast<DWORD>(std::min(size, largestTransfer));
        if (!ReadFile(NativeHandle(file), data, asked, &got, &at)) {
            const DWORD error = GetLastError();
            return error == ERROR_HANDLE_EOF ? Transfer{0, 0} : Transfer{0, ErrnoOf(error)};
        }
        return {got, 0};
    }

    int SyncData(Handle file) override { return FlushFileBuffers(NativeHandle(file)) ? 0 : LastErrno(); }

    int Truncate(Handle file, std::uint64_t length) override {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
        return SetFileInformationByHandle(NativeHandle(file), FileEndOfFileInfo, &end, sizeof end) ? 0 : LastErrno();
    }

    int LinkCount(Handle file, std::uint64_t& count) override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(NativeHandle(file), &info))
            return LastErrno();
        FILE_STANDARD_INFO standard{};
        if (GetFileInformationByHandleEx(NativeHandle(file), FileStandardInfo, &standard, sizeof standard) &&
            standard.DeletePending) {
            count = 0;
            return 0;
        }
        count = info.nNumberOfLinks;
        return 0;
    }

    int MakeFolder(const std::string& path, bool& made) override {
        const std::wstring wide = Wide(path);
        made = CreateDirectoryW(wide.c_str(), nullptr) != 0;
        if (made)
            return 0;
        const DWORD error = GetLastError();
        // A drive ("C:") cannot be made and answers access denied rather than that it exists.
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : EEXIST;
        return ErrnoOf(error);
    }

    // NTFS logs a folder's new names in its own journal; FlushFileBuffers of the folder forces
    // that log out. Where the system refuses to flush a folder (access to a drive's root, a file
    // system that cannot), nothing more can be done, and the name is as safe as the system keeps
    // it: that is not reported as a failure, or the journal would never start there.
    int SyncFolder(const std::string& path) override {
        const HANDLE folder = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            return error == ERROR_ACCESS_DENIED ? 0 : ErrnoOf(error);
        }
        int result = 0;
        if (!FlushFileBuffers(folder)) {
            const DWORD error = GetLastError();
            result = error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION ? 0 : ErrnoOf(error);
        }
        CloseHandle(folder);
        return result;
    }

    int ListFolder(const std::string& path, std::vector<std::string>& names) override {
        WIN32_FIND_DATAW entry{};
        const HANDLE search = FindFirstFileW((Wide(path) + L"/*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND ? 0 : ErrnoOf(error);
        }
        do
            names.push_back(Utf8(entry.cFileName));
        while (FindNextFileW(search, &entry));
        const DWORD error = GetLastError();
        FindClose(search);
        return error == ERROR_NO_MORE_FILES ? 0 : ErrnoOf(error);
    }
};

} // namespace

// XDG_DATA_HOME, as on Linux, names another data folder (tests run in a folder of their own);
// otherwise the user's local application data, which stays on this machine.
std::string JournalFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const bool xdg = dataHome && *dataHome;
    std::string base;
    if (xdg) {
        base = dataHome;
    } else {
        PWSTR known = nullptr;
        if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK)
            base = Utf8(known);
        CoTaskMemFree(known);
    }
    std::replace(base.begin(), base.end(), '\\', '/');
    if (!base.empty() && !base.ends_with('/'))
        base += '/';
    // The Linux folder's name under XDG_DATA_HOME, so that a test finds the same files there.
    return base + (xdg ? "tavro/received" : "Tavro/received");
}

std::tm JournalLocalTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

TJournalFileSystem& SystemJournalFileSystem() {
    static Win32FileSystem system;
    return system;
}
