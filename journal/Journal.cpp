// SPDX-License-Identifier: MIT
#include "Journal.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

// Unsynced capture bytes are also kept in memory, so that a failed sync can write them again
// (Linux may drop pages whose write-back failed). A port that never completes a group is synced
// now and then so that this copy stays small.
constexpr std::size_t captureSyncEvery = 64 * 1024;
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

// Makes `path` and any missing parent, each with `folderMode`. Returns 0 or an errno value;
// `failed` names the folder that could not be made.
int MakeFolders(const std::string& path, std::string& failed) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (!part.empty() && mkdir(part.c_str(), folderMode) != 0 && errno != EEXIST) {
            failed = part;
            return errno;
        }
        if (end == std::string::npos)
            break;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        failed = path;
        return errno != 0 ? errno : ENOTDIR;
    }
    return 0;
}

// Makes a new file's name durable, as a power cut could otherwise lose the entry.
int SyncFolder(const std::string& folder) {
    const int fd = RetryOnInterrupt([&] { return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0)
        return errno;
    const int error = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return error;
}

std::set<std::string> FolderEntries(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

bool StemInUse(const std::set<std::string>& names, const std::string& stem) {
    if (names.contains(stem + ".txt"))
        return true;
    const std::string capturePrefix = stem + "-COM";
    const auto next = names.lower_bound(capturePrefix);
    return next != names.end() && next->starts_with(capturePrefix);
}

std::string TimeStem(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &local);
    return text;
}

std::string CaptureSuffix(int label) {
    return "-COM" + std::to_string(label) + ".bin";
}

} // namespace

std::string JournalFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const std::string base = dataHome && dataHome[0] == '/' ? dataHome : HomeFolder() + "/.local/share";
    return (base.ends_with('/') ? base : base + "/") + "tavro/received";
}

std::string TJournalError::Reason() const {
    return std::generic_category().message(osError);
}

// One file of the journal, the only owner of its descriptor. Its content is known good up to
// `durable` (synced); `pending` holds what follows, of which the first `written` bytes have been
// handed to the system. Every failure cuts the file back to what was there before the failed
// call, so the file never holds part of a write.
class TJournal::File {
public:
    File(std::size_t pendingLimit, std::size_t syncEvery) : pendingLimit(pendingLimit), syncEvery(syncEvery) {}
    ~File() {
        if (fd >= 0)
            close(fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return fd >= 0; }

    // Takes over the made file of `other`, which is left without one.
    void TakeOver(File& other) {
        fd = std::exchange(other.fd, -1);
        path = std::move(other.path);
        folderSyncDue = other.folderSyncDue;
    }

    // Makes the file; it must not exist. Returns 0 or an errno value.
    int Create(std::string name, const std::string& folder) {
        const int made = RetryOnInterrupt(
            [&] { return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, fileMode); });
        if (made < 0)
            return errno;
        fd = made;
        path = std::move(name);
        folderSyncDue = SyncFolder(folder) != 0;
        return 0;
    }

    // Queues bytes to be written, each carriage return as CR LF when `crlf`. False when the
    // queue has grown past its limit: the file is then given up.
    bool Add(const unsigned char* data, std::size_t size, bool crlf) {
        if (abandoned)
            return true;
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
        if (abandoned || fd < 0)
            return 0;
        if (cutDue) {
            if (ftruncate(fd, durable + static_cast<off_t>(written)) != 0)
                return errno;
            cutDue = false;
        }
        const std::size_t before = written;
        while (written < pending.size()) {
            const ssize_t n = RetryOnInterrupt([&] {
                return pwrite(fd, pending.data() + written, pending.size() - written,
                              durable + static_cast<off_t>(written));
            });
            if (n <= 0) {
                const int error = n < 0 ? errno : EIO;
                written = before;
                CutBack(durable + static_cast<off_t>(written));
                return error;
            }
            written += static_cast<std::size_t>(n);
        }
        return 0;
    }

    // Writes and syncs everything queued. Returns 0 or an errno value.
    int Sync(const std::string& folder) {
        if (abandoned || fd < 0)
            return 0;
        if (const int error = Write())
            return error;
        if (!pending.empty() && fdatasync(fd) != 0) {
            const int error = errno;
            // What the failed sync covered may never reach the disk: cut it off and write it
            // again from memory next time.
            written = 0;
            CutBack(durable);
            return error;
        }
        durable += static_cast<off_t>(pending.size());
        pending.clear();
        written = 0;
        if (folderSyncDue) {
            if (const int error = SyncFolder(folder))
                return error;
            folderSyncDue = false;
        }
        return 0;
    }

    // Queued bytes beyond which a capture is synced without waiting for a reply.
    bool SyncDue() const { return pending.size() >= syncEvery; }

    std::string path;

private:
    void CutBack(off_t length) {
        cutDue = ftruncate(fd, length) != 0;
        if (!cutDue)
            fdatasync(fd);
    }

    const std::size_t pendingLimit;
    const std::size_t syncEvery;
    int fd = -1;
    off_t durable = 0;
    std::vector<unsigned char> pending;
    std::size_t written = 0;
    bool cutDue = false;
    bool folderSyncDue = false;
    bool abandoned = false;
};

TJournal::TJournal(std::string folder, Clock now) : folder(std::move(folder)), now(std::move(now)) {
    if (!this->now)
        this->now = [] { return std::time(nullptr); };
}

TJournal::~TJournal() = default;

std::string TJournal::TextPath() const {
    std::lock_guard lock(stemMutex);
    return stem.empty() ? std::string() : folder + "/" + stem + ".txt";
}

std::string TJournal::CapturePath(int label) const {
    std::lock_guard lock(stemMutex);
    return stem.empty() || label < 1 || label > captureCount ? std::string()
                                                             : folder + "/" + stem + CaptureSuffix(label);
}

std::optional<TJournalError> TJournal::ClaimStem() {
    const std::set<std::string> names = FolderEntries(folder);
    const std::string base = TimeStem(now());
    for (int n = 1;; ++n) {
        const std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        // The listing only skips the stems of earlier runs that made no text file; the exclusive
        // create below is what makes the stem this run's.
        if (StemInUse(names, candidate))
            continue;
        auto claim = std::make_unique<File>(pendingTextLimit, pendingTextLimit);
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
    if (const int error = MakeFolders(folder, failed))
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

std::optional<TJournalError> TJournal::AppendCapture(int label, const unsigned char* data, std::size_t size) {
    if (label < 1 || label > captureCount || size == 0)
        return std::nullopt;
    auto& file = captures[static_cast<std::size_t>(label - 1)];
    if (!file)
        file = std::make_unique<File>(pendingCaptureLimit, captureSyncEvery);
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
    if (!file->IsOpen())
        if (auto error = Create(*file, CaptureSuffix(label)))
            return error;
    if (const int error = file->Sync(folder))
        return TJournalError{file->path, error};
    return std::nullopt;
}

std::optional<TJournalError> TJournal::AppendBlock(const std::vector<unsigned char>& block) {
    std::lock_guard lock(textMutex);
    if (!text)
        text = std::make_unique<File>(pendingTextLimit, pendingTextLimit);
    if (!text->Add(block.data(), block.size(), true))
        return TJournalError{text->IsOpen() ? text->path : folder, EFBIG};
    if (!text->IsOpen())
        if (auto error = Create(*text, ".txt"))
            return error;
    if (const int error = text->Sync(folder))
        return TJournalError{text->path, error};
    return std::nullopt;
}
