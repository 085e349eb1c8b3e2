// SPDX-License-Identifier: MIT
#include "Journal.h"

#include "JournalPlatform.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <system_error>
#include <utility>

namespace {

// Unsynced capture bytes are also kept in memory, so that a failed sync can write them again
// (Linux may drop pages whose write-back failed). A port that never completes a group is synced
// now and then so that this copy stays small.
constexpr std::size_t captureSyncEvery = 64 * 1024;

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Makes `path` and any missing parent, and syncs each new folder's name into its parent, as a
// power cut could otherwise lose the folder with everything in it. A folder whose name could
// not be synced stays in `unsynced` and is synced at the next call. Returns 0 or an errno value;
// `failed` names the folder that could not be made or synced.
int MakeFolders(TJournalFileSystem& fileSystem, const std::string& path, std::set<std::string>& unsynced,
                std::string& failed) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        const bool last = end == std::string::npos;
        bool made = false;
        const int error = part.empty() ? 0 : fileSystem.MakeFolder(part, made);
        // A file in the way of a parent shows as ENOTDIR at the next part.
        if (error != 0 && (last || error != EEXIST)) {
            failed = part;
            return error == EEXIST ? ENOTDIR : error;
        }
        if (made)
            unsynced.insert(part);
        if (unsynced.contains(part)) {
            if (const int syncError = fileSystem.SyncFolder(ParentOf(part))) {
                failed = ParentOf(part);
                return syncError;
            }
            unsynced.erase(part);
        }
        if (last)
            return 0;
    }
}

// An unreadable folder lists as empty: the exclusive create of the claim still never takes a
// name that exists.
std::set<std::string> FolderEntries(TJournalFileSystem& fileSystem, const std::string& folder) {
    std::vector<std::string> names;
    fileSystem.ListFolder(folder, names);
    return {names.begin(), names.end()};
}

bool StemInUse(const std::set<std::string>& names, const std::string& stem) {
    if (names.contains(stem + ".txt"))
        return true;
    const std::string capturePrefix = stem + "-COM";
    const auto next = names.lower_bound(capturePrefix);
    return next != names.end() && next->starts_with(capturePrefix);
}

std::string TimeStem(std::time_t when) {
    const std::tm local = JournalLocalTime(when);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &local);
    return text;
}

std::string CaptureSuffix(int label) {
    return "-COM" + std::to_string(label) + ".bin";
}

} // namespace

std::string TJournalError::Reason() const {
    return std::generic_category().message(osError);
}

// One file of the journal, the only owner of its handle. Its content is known good up to
// `durable` (synced); `pending` holds what follows, of which the first `written` bytes have been
// handed to the system. Every failure cuts the file back to what was there before the failed
// call, so the file never holds part of a write.
class TJournal::File {
public:
    File(TJournalFileSystem& fileSystem, std::size_t pendingLimit, std::size_t syncEvery)
        : fileSystem(fileSystem), pendingLimit(pendingLimit), syncEvery(syncEvery) {}
    ~File() {
        if (handle != noHandle)
            fileSystem.Close(handle);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return handle != noHandle; }

    // Takes over the made file of `other`, which is left without one.
    void TakeOver(File& other) {
        handle = std::exchange(other.handle, noHandle);
        path = std::move(other.path);
        folderSyncDue = other.folderSyncDue;
    }

    // Makes the file; it must not exist. Returns 0 or an errno value.
    int Create(std::string name, const std::string& folder) {
        Handle made = noHandle;
        if (const int error = fileSystem.CreateNew(name, made))
            return error;
        handle = made;
        path = std::move(name);
        folderSyncDue = fileSystem.SyncFolder(folder) != 0;
        return 0;
    }

    // Queues bytes to be written, each carriage return as CR LF when `crlf`. False when the
    // queue would grow past its limit: the file is then given up, and false from then on.
    bool Add(const unsigned char* data, std::size_t size, bool crlf) {
        if (abandoned)
            return false;
        if (pending.size() + size * (crlf ? 2 : 1) > pendingLimit) {
            pending.clear();
            written = 0;
            abandoned = true;
            return false;
        }
        for (std::size_t i = 0; i < size; ++i) {
            pending.push_back(data[i]);
            if (crlf && data[i] == '\r')
                pending.push_back('\n');
        }
        return true;
    }

    // Hands the queued bytes to the system. Returns 0 or an errno value.
    int Write() {
        if (abandoned || !IsOpen())
            return 0;
        if (cutDue) {
            if (const int error = fileSystem.Truncate(handle, durable + written))
                return error;
            cutDue = false;
        }
        const std::size_t before = written;
        while (written < pending.size()) {
            const auto done =
                fileSystem.WriteAt(handle, pending.data() + written, pending.size() - written, durable + written);
            if (done.error != 0 || done.size == 0) {
                written = before;
                CutBack(durable + written);
                return done.error != 0 ? done.error : EIO;
            }
            written += done.size;
        }
        return 0;
    }

    // Writes and syncs everything queued. Returns 0 or an errno value.
    int Sync(const std::string& folder) {
        if (abandoned)
            return EFBIG;
        if (!IsOpen())
            return 0;
        if (const int error = Write())
            return error;
        if (const int error = pending.empty() ? 0 : fileSystem.SyncData(handle)) {
            // What the failed sync covered may never reach the disk: cut it off and write it
            // again from memory next time.
            written = 0;
            CutBack(durable);
            return error;
        }
        durable += pending.size();
        pending.clear();
        written = 0;
        if (folderSyncDue) {
            if (const int error = fileSystem.SyncFolder(folder))
                return error;
            folderSyncDue = false;
        }
        return 0;
    }

    bool Abandoned() const { return abandoned; }

    // True unless the file was deleted while open; a failed check counts as named, as a sync
    // right after it reports any real trouble with the file.
    bool Named() const {
        std::uint64_t count = 1;
        return !IsOpen() || fileSystem.LinkCount(handle, count) != 0 || count > 0;
    }

    // Moves the file's content into `replacement`, made empty under `name`: what is durable is
    // copied through the old handle, which still reads a deleted file, and synced; what was
    // still queued is written after it by the next sync, as the new name is synced into the
    // folder. Returns 0 or an errno value; on failure the old file stays in use and the
    // replacement is emptied and closed.
    int MoveTo(TJournalFileSystem::Handle replacement, std::string name) {
        std::vector<unsigned char> piece(64 * 1024);
        int error = 0;
        for (std::uint64_t done = 0; done < durable && error == 0;) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), durable - done));
            const auto read = fileSystem.ReadAt(handle, piece.data(), want, done);
            if (read.error != 0 || read.size == 0) {
                error = read.error != 0 ? read.error : EIO;
                break;
            }
            for (std::size_t put = 0; put < read.size && error == 0;) {
                const auto wrote = fileSystem.WriteAt(replacement, piece.data() + put, read.size - put, done + put);
                if (wrote.error != 0 || wrote.size == 0)
                    error = wrote.error != 0 ? wrote.error : EIO;
                put += wrote.size;
            }
            done += read.size;
        }
        if (error == 0)
            error = fileSystem.SyncData(replacement);
        if (error != 0) {
            fileSystem.Truncate(replacement, 0);
            fileSystem.Close(replacement);
            return error;
        }
        fileSystem.Close(std::exchange(handle, replacement));
        path = std::move(name);
        written = 0;
        cutDue = false;
        folderSyncDue = true;
        return 0;
    }

    // Queued bytes beyond which a capture is synced without waiting for a reply.
    bool SyncDue() const { return pending.size() >= syncEvery; }

    std::string path;

private:
    using Handle = TJournalFileSystem::Handle;
    static constexpr Handle noHandle = TJournalFileSystem::noHandle;

    void CutBack(std::uint64_t length) {
        cutDue = fileSystem.Truncate(handle, length) != 0;
        if (!cutDue)
            fileSystem.SyncData(handle);
    }

    TJournalFileSystem& fileSystem;
    const std::size_t pendingLimit;
    const std::size_t syncEvery;
    Handle handle = noHandle;
    std::uint64_t durable = 0;
    std::vector<unsigned char> pending;
    std::size_t written = 0;
    bool cutDue = false;
    bool folderSyncDue = false;
    bool abandoned = false;
};

TJournal::TJournal(std::string folder, Clock now, TJournalFileSystem& fileSystem)
    : folder(std::move(folder)), now(std::move(now)), fileSystem(fileSystem) {
    if (!this->now)
        this->now = [] { return std::time(nullptr); };
}

TJournal::~TJournal() = default;

std::string TJournal::TextPath() const {
    std::lock_guard lock(stemMutex);
    if (const auto replaced = replacedPaths.find(".txt"); replaced != replacedPaths.end())
        return replaced->second;
    return stem.empty() ? std::string() : folder + "/" + stem + ".txt";
}

std::string TJournal::CapturePath(int label) const {
    std::lock_guard lock(stemMutex);
    if (stem.empty() || label < 1 || label > captureCount)
        return {};
    if (const auto replaced = replacedPaths.find(CaptureSuffix(label)); replaced != replacedPaths.end())
        return replaced->second;
    return folder + "/" + stem + CaptureSuffix(label);
}

std::optional<TJournalError> TJournal::ClaimStem() {
    const std::set<std::string> names = FolderEntries(fileSystem, folder);
    const std::string base = TimeStem(now());
    for (int n = 1;; ++n) {
        const std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        // The listing only skips the stems of earlier runs that made no text file; the exclusive
        // create below is what makes the stem this run's.
        if (StemInUse(names, candidate))
            continue;
        auto claim = std::make_unique<File>(fileSystem, pendingTextLimit, pendingTextLimit);
        const std::string name = folder + "/" + candidate + ".txt";
        const int error = claim->Create(name, folder);
        if (error == EEXIST)
            continue;
        if (error != 0)
            return TJournalError{name, error};
        stem = candidate;
        unclaimedText = std::move(claim);
        return std::nullopt;
    }
}

std::optional<TJournalError> TJournal::Create(File& file, const std::string& suffix) {
    std::lock_guard lock(stemMutex);
    std::string failed;
    if (const int error = MakeFolders(fileSystem, folder, unsyncedFolders, failed))
        return TJournalError{failed, error};
    if (stem.empty())
        if (auto error = ClaimStem())
            return error;
    if (suffix == ".txt" && unclaimedText) {
        file.TakeOver(*unclaimedText);
        unclaimedText.reset();
        return std::nullopt;
    }
    const std::string name = folder + "/" + stem + suffix;
    if (const int error = file.Create(name, folder))
        return TJournalError{name, error};
    return std::nullopt;
}

std::optional<TJournalError> TJournal::KeepNamed(File& file, const std::string& suffix) {
    if (file.Named())
        return std::nullopt;
    std::lock_guard lock(stemMutex);
    std::string failed;
    if (const int error = MakeFolders(fileSystem, folder, unsyncedFolders, failed))
        return TJournalError{failed, error};
    // The same name when it is free, else the next of the run's stem as for a run's first file.
    for (int n = 1;; ++n) {
        const std::string name = folder + "/" + (n == 1 ? stem : stem + "-" + std::to_string(n)) + suffix;
        TJournalFileSystem::Handle made = TJournalFileSystem::noHandle;
        const int error = fileSystem.CreateNew(name, made);
        if (error == EEXIST)
            continue;
        if (error == 0) {
            if (const int moveError = file.MoveTo(made, name))
                return TJournalError{name, moveError};
            replacedPaths[suffix] = name;
        }
        return error == 0 ? std::nullopt : std::optional<TJournalError>(TJournalError{name, error});
    }
}

std::optional<TJournalError> TJournal::AppendCapture(int label, const unsigned char* data, std::size_t size) {
    if (label < 1 || label > captureCount || size == 0)
        return std::nullopt;
    auto& file = captures[static_cast<std::size_t>(label - 1)];
    if (!file)
        file = std::make_unique<File>(fileSystem, pendingCaptureLimit, captureSyncEvery);
    if (!file->Add(data, size, false))
        return TJournalError{file->IsOpen() ? file->path : folder, EFBIG};
    if (!file->IsOpen())
        if (auto error = Create(*file, CaptureSuffix(label)))
            return error;
    if (const int error = file->SyncDue() ? file->Sync(folder) : file->Write())
        return TJournalError{file->path, error};
    return std::nullopt;
}

std::optional<TJournalError> TJournal::SyncCapture(int label) {
    if (label < 1 || label > captureCount)
        return std::nullopt;
    auto& file = captures[static_cast<std::size_t>(label - 1)];
    if (!file)
        return std::nullopt; // nothing was read
    if (file->Abandoned())
        return TJournalError{file->IsOpen() ? file->path : folder, EFBIG};
    if (!file->IsOpen())
        if (auto error = Create(*file, CaptureSuffix(label)))
            return error;
    if (auto error = KeepNamed(*file, CaptureSuffix(label)))
        return error;
    if (const int error = file->Sync(folder))
        return TJournalError{file->path, error};
    return std::nullopt;
}

std::optional<TJournalError> TJournal::AppendBlock(const std::vector<unsigned char>& block) {
    std::lock_guard lock(textMutex);
    if (!text)
        text = std::make_unique<File>(fileSystem, pendingTextLimit, pendingTextLimit);
    if (!text->Add(block.data(), block.size(), true))
        return TJournalError{text->IsOpen() ? text->path : folder, EFBIG};
    if (!text->IsOpen())
        if (auto error = Create(*text, ".txt"))
            return error;
    if (auto error = KeepNamed(*text, ".txt"))
        return error;
    if (const int error = text->Sync(folder))
        return TJournalError{text->path, error};
    return std::nullopt;
}
