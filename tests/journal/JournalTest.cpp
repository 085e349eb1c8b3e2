// SPDX-License-Identifier: MIT
// The journal over real files: what it writes, where, under which names, and what a disk that
// refuses writes leaves behind.
#include "Journal.h"
#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// 2026-12-08 10:15:30 local time, whatever the zone.
std::time_t FixedTime() {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 8;
    local.tm_hour = 10;
    local.tm_min = 15;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    return std::mktime(&local);
}
const std::string fixedStem = "2026-12-08_10-15-30";

const Bytes blockA =
    BytesOf("MCH:       \t001\r\rRecord Date:\t\r\r\r\rEnd Time:       \t\r" + std::string(72, '-') + "\r\r");
const Bytes blockB = BytesOf("MCH:       \t002\r\r\r");

// What "Save as" writes for these blocks: every carriage return as CR LF.
std::string AsSaved(std::initializer_list<const Bytes*> blocks) {
    std::string text;
    for (const Bytes* block : blocks)
        for (unsigned char c : *block)
            text += c == '\r' ? std::string("\r\n") : std::string(1, static_cast<char>(c));
    return text;
}

// The system's file system, with the journal's calls recorded and some of them failed on request.
// Single-threaded, as these tests are.
class WatchedFileSystem : public TJournalFileSystem {
public:
    enum What { create, write, read, dataSync, truncate, linkCount, folderMade, folderSync, listing };
    struct Call {
        What what;
        std::string path; // the file or folder
        std::uint64_t from = 0;
        std::uint64_t to = 0; // a write's or read's byte range, a truncate's length
    };

    // The next `times` calls of `what` on `path` fail with `error`.
    void Fail(What what, const std::string& path, int error, int times = 1) { failing[{what, path}] = {error, times}; }
    void StopFailing() { failing.clear(); }

    // The calls made on `path`.
    std::vector<Call> On(const std::string& path) const {
        std::vector<Call> on;
        for (const Call& call : calls)
            if (call.path == path)
                on.push_back(call);
        return on;
    }

    int CreateNew(const std::string& path, Handle& made) override {
        if (const int error = Record({create, path}))
            return error;
        const int error = real.CreateNew(path, made);
        if (error == 0)
            paths[made] = path;
        return error;
    }
    void Close(Handle file) override { real.Close(file); }
    Transfer WriteAt(Handle file, const unsigned char* data, std::size_t size, std::uint64_t offset) override {
        if (const int error = Record({write, paths.at(file), offset, offset + size}))
            return {0, error};
        return real.WriteAt(file, data, size, offset);
    }
    Transfer ReadAt(Handle file, unsigned char* data, std::size_t size, std::uint64_t offset) override {
        if (const int error = Record({read, paths.at(file), offset, offset + size}))
            return {0, error};
        return real.ReadAt(file, data, size, offset);
    }
    int SyncData(Handle file) override {
        if (const int error = Record({dataSync, paths.at(file)}))
            return error;
        return real.SyncData(file);
    }
    int Truncate(Handle file, std::uint64_t length) override {
        if (const int error = Record({truncate, paths.at(file), 0, length}))
            return error;
        return real.Truncate(file, length);
    }
    int LinkCount(Handle file, std::uint64_t& count) override {
        if (const int error = Record({linkCount, paths.at(file)}))
            return error;
        return real.LinkCount(file, count);
    }
    int MakeFolder(const std::string& path, bool& made) override {
        const int error = real.MakeFolder(path, made);
        if (made)
            calls.push_back({folderMade, path});
        return error;
    }
    int SyncFolder(const std::string& path) override {
        if (const int error = Record({folderSync, path}))
            return error;
        return real.SyncFolder(path);
    }
    int ListFolder(const std::string& path, std::vector<std::string>& names) override {
        if (const int error = Record({listing, path}))
            return error;
        return real.ListFolder(path, names);
    }

    std::vector<Call> calls;

private:
    int Record(Call call) {
        calls.push_back(call);
        const auto failure = failing.find({call.what, call.path});
        if (failure == failing.end() || failure->second.second == 0)
            return 0;
        --failure->second.second;
        return failure->second.first;
    }

    TJournalFileSystem& real = SystemJournalFileSystem();
    std::map<Handle, std::string> paths;
    std::map<std::pair<What, std::string>, std::pair<int, int>> failing; // error, times left
};

class JournalTest : public ::testing::Test {
protected:
    TempDir home;
    fs::path folder = home.path / "data" / "tavro" / "received";
    WatchedFileSystem watched;
    TJournal journal{folder.string(), FixedTime, watched};
};

// ---- Where ----

struct FolderRow {
    const char* name;
    std::optional<std::string> dataHome; // nullopt: unset
    std::string expected;                // "~" stands for HOME
};

class JournalFolderTest : public ::testing::TestWithParam<FolderRow> {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_DATA_HOME", "HOME"})
            if (const char* value = std::getenv(name))
                saved.emplace_back(name, value);
        setenv("HOME", "/home/coach", 1);
    }
    void TearDown() override {
        unsetenv("XDG_DATA_HOME");
        for (const auto& [name, value] : saved)
            setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::string>> saved;
};

TEST_P(JournalFolderTest, FollowsTheBaseDirectoryRules) {
    if (GetParam().dataHome)
        setenv("XDG_DATA_HOME", GetParam().dataHome->c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(JournalFolder(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Environments, JournalFolderTest,
                         ::testing::Values(FolderRow{"Unset", std::nullopt, "/home/coach/.local/share/tavro/received"},
                                           FolderRow{"Empty", "", "/home/coach/.local/share/tavro/received"},
                                           FolderRow{"Relative", "data", "/home/coach/.local/share/tavro/received"},
                                           FolderRow{"Absolute", "/srv/data", "/srv/data/tavro/received"},
                                           FolderRow{"TrailingSlash", "/srv/data/", "/srv/data/tavro/received"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- What ----

TEST_F(JournalTest, NothingIsMadeBeforeSomethingIsKept) {
    EXPECT_FALSE(journal.SyncCapture(3));
    EXPECT_FALSE(fs::exists(home.path / "data"));
    EXPECT_EQ(journal.TextPath(), "");
}

TEST_F(JournalTest, BlocksAreKeptAsSaveAsWritesThem) {
    ASSERT_FALSE(journal.AppendBlock(blockA));
    ASSERT_FALSE(journal.AppendBlock(blockB));
    EXPECT_EQ(journal.TextPath(), (folder / (fixedStem + ".txt")).string());
    EXPECT_EQ(ReadFile(journal.TextPath()), AsSaved({&blockA, &blockB}));
    // The folder and its missing parents are private to the user.
    for (const fs::path& made : {home.path / "data", home.path / "data" / "tavro", folder}) {
        struct stat info {};
        ASSERT_EQ(stat(made.c_str(), &info), 0) << made;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
    }
}

TEST_F(JournalTest, CapturesKeepEveryByteOfTheirSlotUnderTheRunsStem) {
    const Bytes first{0xAB, 0xC0, 0x00, 0x0D, 0x0A, 0x00};
    const Bytes second{0xFF, 0x0D};
    ASSERT_FALSE(journal.AppendCapture(3, first.data(), first.size()));
    ASSERT_FALSE(journal.AppendCapture(1, second.data(), second.size()));
    ASSERT_FALSE(journal.AppendCapture(3, second.data(), second.size()));
    ASSERT_FALSE(journal.SyncCapture(3));
    ASSERT_FALSE(journal.AppendBlock(blockB));
    EXPECT_EQ(journal.CapturePath(3), (folder / (fixedStem + "-COM3.bin")).string());
    EXPECT_EQ(ReadFile(journal.CapturePath(3)),
              "\xAB\xC0" + std::string(1, '\0') + "\r\n" + std::string(1, '\0') + "\xFF\r");
    EXPECT_EQ(ReadFile(journal.CapturePath(1)), "\xFF\r");
    EXPECT_TRUE(fs::exists(folder / (fixedStem + ".txt")));
}

// ---- Durable before confirmed ----

// What is kept, in a text file or a port's capture, and what the journal calls to keep it.
struct KeepRow {
    const char* name;
    bool capture;
};

class JournalKeepTest : public JournalTest, public ::testing::WithParamInterface<KeepRow> {
protected:
    std::optional<TJournalError> Keep(const Bytes& bytes) {
        if (!GetParam().capture)
            return journal.AppendBlock(bytes);
        if (auto error = journal.AppendCapture(2, bytes.data(), bytes.size()))
            return error;
        return journal.SyncCapture(2);
    }
    std::string Path() { return GetParam().capture ? journal.CapturePath(2) : journal.TextPath(); }
    std::string Kept(std::initializer_list<const Bytes*> blocks) {
        if (!GetParam().capture)
            return AsSaved(blocks);
        std::string bytes;
        for (const Bytes* block : blocks)
            bytes.append(block->begin(), block->end());
        return bytes;
    }
};

TEST_P(JournalKeepTest, WhatIsKeptIsSyncedBeforeTheCallReturns) {
    for (const Bytes* block : {&blockA, &blockB}) {
        const std::size_t before = watched.calls.size();
        ASSERT_FALSE(Keep(*block));
        std::uint64_t lastWrite = 0;
        std::size_t syncsAfterIt = 0;
        for (std::size_t i = before; i < watched.calls.size(); ++i) {
            const auto& call = watched.calls[i];
            if (call.path != Path())
                continue;
            if (call.what == WatchedFileSystem::write) {
                lastWrite = std::max(lastWrite, call.to);
                syncsAfterIt = 0;
            }
            syncsAfterIt += call.what == WatchedFileSystem::dataSync;
        }
        EXPECT_EQ(lastWrite, fs::file_size(Path())) << "the block was written";
        EXPECT_EQ(syncsAfterIt, 1u) << "and synced after its last write";
    }
    // The new file's name was synced into its folder.
    const auto made = std::find_if(watched.calls.begin(), watched.calls.end(), [&](const auto& call) {
        return call.what == WatchedFileSystem::create && call.path == Path();
    });
    ASSERT_NE(made, watched.calls.end());
    EXPECT_TRUE(std::any_of(made, watched.calls.end(), [&](const auto& call) {
        return call.what == WatchedFileSystem::folderSync && call.path == folder.string();
    }));
}

TEST_P(JournalKeepTest, FailedSyncIsReportedCutBackAndWrittenAgain) {
    ASSERT_FALSE(Keep(blockA));
    const auto goodSize = fs::file_size(Path());
    watched.Fail(WatchedFileSystem::dataSync, Path(), EIO);
    const auto error = Keep(blockB);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->osError, EIO);
    EXPECT_EQ(error->path, Path());
    EXPECT_EQ(fs::file_size(Path()), goodSize);
    ASSERT_FALSE(Keep(blockA));
    EXPECT_EQ(ReadFile(Path()), Kept({&blockA, &blockB, &blockA}));
}

// Coaches delete old journal files by hand, now and then the current run's too: what the run
// keeps must not go on into a file that has no name and is lost at exit.
TEST_P(JournalKeepTest, FileDeletedWhileKeptIsMadeAgainWithEverythingKept) {
    enum class After { deleted, nameTaken, folderDeleted, remakeFails };
    const struct Row {
        const char* description;
        After after;
    } rows[] = {{"deleted", After::deleted},
                {"deleted, and its name taken by another file", After::nameTaken},
                {"the whole folder deleted", After::folderDeleted},
                {"deleted, and the new file cannot be made at once", After::remakeFails}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.description);
        TJournal run{folder.string(), FixedTime, watched};
        const auto keep = [&](const Bytes& bytes) -> std::optional<TJournalError> {
            if (!GetParam().capture)
                return run.AppendBlock(bytes);
            if (auto error = run.AppendCapture(2, bytes.data(), bytes.size()))
                return error;
            return run.SyncCapture(2);
        };
        const auto path = [&] { return GetParam().capture ? run.CapturePath(2) : run.TextPath(); };
        ASSERT_FALSE(keep(blockA));
        const std::string first = path();
        std::string expected = first;
        if (row.after == After::folderDeleted) {
            fs::remove_all(folder);
        } else {
            fs::remove(first);
        }
        if (row.after == After::nameTaken) {
            std::ofstream(first) << "someone else's";
            const std::string secondStem = fixedStem + "-2";
            expected = (folder / (GetParam().capture ? secondStem + "-COM2.bin" : secondStem + ".txt")).string();
        }
        if (row.after == After::remakeFails) {
            watched.Fail(WatchedFileSystem::create, first, ENOSPC);
            const auto error = keep(blockB);
            ASSERT_TRUE(error);
            EXPECT_EQ(error->osError, ENOSPC);
        }
        ASSERT_FALSE(keep(blockB));
        EXPECT_EQ(path(), expected);
        EXPECT_EQ(ReadFile(expected), row.after == After::remakeFails ? Kept({&blockA, &blockB, &blockB})
                                                                      : Kept({&blockA, &blockB}));
        if (row.after == After::nameTaken) {
            EXPECT_EQ(ReadFile(first), "someone else's");
        }
        fs::remove_all(folder);
    }
}

// More than may wait in memory, in one call (carriage returns take two bytes each in the text):
// nothing of it is kept, and as the file is given up rather than written with a hole, nothing
// after it counts as kept either.
TEST_P(JournalKeepTest, NothingCountsAsKeptOnceTheMemoryLimitWasPassed) {
    const Bytes tooMuch = GetParam().capture ? Bytes(TJournal::pendingCaptureLimit + 1, 'x')
                                             : Bytes(TJournal::pendingTextLimit / 2 + 1, '\r');
    const auto error = Keep(tooMuch);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->osError, EFBIG);
    for (const Bytes* block : {&blockA, &blockB}) {
        const auto later = Keep(*block);
        ASSERT_TRUE(later);
        EXPECT_EQ(later->osError, EFBIG);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, JournalKeepTest, ::testing::Values(KeepRow{"Text", false}, KeepRow{"Capture", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A folder whose sync fails while the first block is kept: the journal's folder, holding the new
// files' names, or the parent of a folder the journal made, holding that folder's name.
struct FolderSyncRow {
    const char* name;
    std::string below; // the folder, below the test's home folder ("": that folder)
};

class JournalFolderSyncTest : public JournalTest, public ::testing::WithParamInterface<FolderSyncRow> {};

TEST_P(JournalFolderSyncTest, FailedFolderSyncIsReportedAndTriedAgain) {
    const std::string failing = (GetParam().below.empty() ? home.path : home.path / GetParam().below).string();
    watched.Fail(WatchedFileSystem::folderSync, failing, EIO, 1000);
    const auto error = journal.AppendBlock(blockA);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->osError, EIO);
    watched.StopFailing();
    watched.calls.clear();
    ASSERT_FALSE(journal.AppendBlock(blockB));
    EXPECT_FALSE(watched.On(failing).empty()) << "synced at the next block";
    EXPECT_EQ(ReadFile(journal.TextPath()), AsSaved({&blockA, &blockB}));
}

INSTANTIATE_TEST_SUITE_P(Folders, JournalFolderSyncTest,
                         ::testing::Values(FolderSyncRow{"TheJournalsFolder", "data/tavro/received"},
                                           FolderSyncRow{"ParentOfItsNewFolder", "data/tavro"},
                                           FolderSyncRow{"ParentOfANewMiddleFolder", "data"},
                                           FolderSyncRow{"ParentOfTheFirstNewFolder", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Names ----

struct CollisionRow {
    const char* name;
    std::vector<std::string> existing; // "S" stands for the run's time stem
    std::string stem;
};

class JournalNameTest : public JournalTest, public ::testing::WithParamInterface<CollisionRow> {};

TEST_P(JournalNameTest, NeverReusesAnEarlierRunsName) {
    fs::create_directories(folder);
    auto withStem = [](std::string name) { return name.replace(0, 1, fixedStem); };
    for (const std::string& name : GetParam().existing)
        std::ofstream(folder / withStem(name)) << "earlier run";
    ASSERT_FALSE(journal.AppendBlock(blockB));
    EXPECT_EQ(journal.TextPath(), (folder / (withStem(GetParam().stem) + ".txt")).string());
    for (const std::string& name : GetParam().existing)
        EXPECT_EQ(ReadFile(folder / withStem(name)), "earlier run");
}

INSTANTIATE_TEST_SUITE_P(Folders, JournalNameTest,
                         ::testing::Values(CollisionRow{"Empty", {}, "S"}, CollisionRow{"TextExists", {"S.txt"}, "S-2"},
                                           CollisionRow{"OnlyACaptureExists", {"S-COM2.bin"}, "S-2"},
                                           CollisionRow{"TwoEarlierRuns", {"S.txt", "S-2.txt", "S-2-COM1.bin"}, "S-3"},
                                           CollisionRow{"OnlyTheSecondExists", {"S-2.txt"}, "S"},
                                           CollisionRow{"OtherFilesDoNotCount", {"S.txt.bak", "S-notes.txt"}, "S"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two programs started in the same second: the second lists the folder, and before it has made
// its first file the first program makes its own (here while the second reads the clock, which
// it does after listing). Label 0 stands for the text file, any other for that port's capture.
struct SameSecondRow {
    const char* name;
    int firstLabel;
    int secondLabel;
};

class JournalSameSecondTest : public JournalTest, public ::testing::WithParamInterface<SameSecondRow> {};

TEST_P(JournalSameSecondTest, TwoRunsNeverShareAStem) {
    const Bytes firstBytes{0xAB, 0x01};
    const Bytes secondBytes{0xAB, 0x02};
    TJournal* firstRun = nullptr;
    bool raced = false;
    auto keepFirstFile = [&](TJournal& run, int label, const Bytes& block, const Bytes& bytes) {
        return label == 0 ? run.AppendBlock(block) : run.AppendCapture(label, bytes.data(), bytes.size());
    };
    const TJournal::Clock clock = [&] {
        if (firstRun && !raced) {
            raced = true;
            EXPECT_FALSE(keepFirstFile(*firstRun, GetParam().firstLabel, blockA, firstBytes));
        }
        return FixedTime();
    };
    TJournal first{folder.string(), clock};
    TJournal second{folder.string(), clock};
    firstRun = &first;
    ASSERT_FALSE(keepFirstFile(second, GetParam().secondLabel, blockB, secondBytes));
    ASSERT_TRUE(raced);

    // Both go on keeping groups and the bytes of a port, each in files of its own.
    ASSERT_FALSE(first.AppendBlock(blockA));
    ASSERT_FALSE(second.AppendBlock(blockB));
    ASSERT_FALSE(first.AppendCapture(3, firstBytes.data(), firstBytes.size()));
    ASSERT_FALSE(second.AppendCapture(3, secondBytes.data(), secondBytes.size()));
    ASSERT_FALSE(first.SyncCapture(3));
    ASSERT_FALSE(second.SyncCapture(3));
    EXPECT_EQ(first.TextPath(), (folder / (fixedStem + ".txt")).string());
    EXPECT_EQ(second.TextPath(), (folder / (fixedStem + "-2.txt")).string());
    EXPECT_EQ(ReadFile(first.TextPath()),
              GetParam().firstLabel == 0 ? AsSaved({&blockA, &blockA}) : AsSaved({&blockA}));
    EXPECT_EQ(ReadFile(second.TextPath()),
              GetParam().secondLabel == 0 ? AsSaved({&blockB, &blockB}) : AsSaved({&blockB}));
    EXPECT_EQ(first.CapturePath(3), (folder / (fixedStem + "-COM3.bin")).string());
    EXPECT_EQ(second.CapturePath(3), (folder / (fixedStem + "-2-COM3.bin")).string());
    EXPECT_EQ(ReadFile(second.CapturePath(3)), std::string(secondBytes.begin(), secondBytes.end()));
}

INSTANTIATE_TEST_SUITE_P(FirstFiles, JournalSameSecondTest,
                         ::testing::Values(SameSecondRow{"BothCaptures", 1, 2}, SameSecondRow{"SameCapture", 2, 2},
                                           SameSecondRow{"TextThenCapture", 0, 2},
                                           SameSecondRow{"CaptureThenText", 1, 0}, SameSecondRow{"BothTexts", 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Failures ----

TEST_F(JournalTest, FolderThatCannotBeMadeIsTriedAgainWithNothingLost) {
    std::ofstream(home.path / "data") << "a file where the folder should be";
    const auto error = journal.AppendBlock(blockA);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->osError, ENOTDIR);
    EXPECT_EQ(error->path, (home.path / "data" / "tavro").string());
    EXPECT_FALSE(error->Reason().empty());
    ASSERT_TRUE(journal.AppendBlock(blockB));

    fs::remove(home.path / "data");
    ASSERT_FALSE(journal.AppendBlock(blockA));
    // Both earlier blocks were kept in memory and come first, in order.
    EXPECT_EQ(ReadFile(journal.TextPath()), AsSaved({&blockA, &blockB, &blockA}));
}

// A disk that stops taking bytes part-way through a write: a file size limit (EFBIG) in a child
// process, where it cannot disturb the test program. The child reports which step went wrong.
struct FullDiskRow {
    const char* name;
    bool capture;
};

class JournalFullDiskTest : public JournalTest, public ::testing::WithParamInterface<FullDiskRow> {};

TEST_P(JournalFullDiskTest, FailedAppendLeavesTheFileAsItWasAndIsWrittenLater) {
    const bool capture = GetParam().capture;
    auto append = [&](const Bytes& bytes) {
        if (!capture)
            return journal.AppendBlock(bytes);
        if (auto error = journal.AppendCapture(2, bytes.data(), bytes.size()))
            return error;
        return journal.SyncCapture(2);
    };
    auto path = [&] { return capture ? journal.CapturePath(2) : journal.TextPath(); };

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        if (append(blockA))
            _exit(10);
        const auto goodSize = fs::file_size(path());
        const rlimit tight{goodSize + 10, RLIM_INFINITY};
        if (setrlimit(RLIMIT_FSIZE, &tight) != 0)
            _exit(11);
        const auto error = append(blockB);
        if (!error || error->osError != EFBIG)
            _exit(12);
        if (fs::file_size(path()) != goodSize)
            _exit(13); // part of the failed block stayed in the file
        const rlimit loose{RLIM_INFINITY, RLIM_INFINITY};
        if (setrlimit(RLIMIT_FSIZE, &loose) != 0)
            _exit(14);
        if (append(blockA))
            _exit(15);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "step that failed in the child";

    const std::string expected = capture ? std::string(blockA.begin(), blockA.end()) +
                                               std::string(blockB.begin(), blockB.end()) +
                                               std::string(blockA.begin(), blockA.end())
                                         : AsSaved({&blockA, &blockB, &blockA});
    const fs::path file = folder / (fixedStem + (capture ? "-COM2.bin" : ".txt"));
    EXPECT_EQ(ReadFile(file), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, JournalFullDiskTest,
                         ::testing::Values(FullDiskRow{"Text", false}, FullDiskRow{"Capture", true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
