// SPDX-License-Identifier: MIT
// The journal over real files: what it writes, under which names, what it syncs, and what a
// file system that refuses calls leaves behind. The same tests run in the Windows build, over
// its own file system calls.
#include "JournalTestSupport.h"

namespace {

using namespace journal_test;

// ---- What ----

TEST_F(JournalTest, NothingIsMadeBeforeSomethingIsKept) {
    EXPECT_FALSE(journal.SyncCapture(3));
    EXPECT_FALSE(fs::exists(home.path / "data"));
    EXPECT_EQ(journal.TextPath(), "");
}

TEST_F(JournalTest, BlocksAreKeptAsSaveAsWritesThem) {
    ASSERT_FALSE(journal.AppendBlock(blockA));
    ASSERT_FALSE(journal.AppendBlock(blockB));
    EXPECT_EQ(journal.TextPath(), Str(folder / (fixedStem + ".txt")));
    EXPECT_EQ(ReadFile(journal.TextPath()), AsSaved({&blockA, &blockB}));
}

TEST_F(JournalTest, CapturesKeepEveryByteOfTheirSlotUnderTheRunsStem) {
    const Bytes first{0xAB, 0xC0, 0x00, 0x0D, 0x0A, 0x00};
    const Bytes second{0xFF, 0x0D};
    ASSERT_FALSE(journal.AppendCapture(3, first.data(), first.size()));
    ASSERT_FALSE(journal.AppendCapture(1, second.data(), second.size()));
    ASSERT_FALSE(journal.AppendCapture(3, second.data(), second.size()));
    ASSERT_FALSE(journal.SyncCapture(3));
    ASSERT_FALSE(journal.AppendBlock(blockB));
    EXPECT_EQ(journal.CapturePath(3), Str(folder / (fixedStem + "-COM3.bin")));
    EXPECT_EQ(ReadFile(journal.CapturePath(3)),
              "\xAB\xC0" + std::string(1, '\0') + "\r\n" + std::string(1, '\0') + "\xFF\r");
    EXPECT_EQ(ReadFile(journal.CapturePath(1)), "\xFF\r");
    EXPECT_TRUE(fs::exists(folder / (fixedStem + ".txt")));
}

// ---- Durable before confirmed ----

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
        return call.what == WatchedFileSystem::folderSync && call.path == Str(folder);
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
        TJournal run{Str(folder), FixedTime, watched};
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
        std::error_code refused;
        if (row.after == After::folderDeleted) {
            fs::remove_all(folder, refused);
        } else {
            fs::remove(first, refused);
        }
        if (refused) {
            // Windows keeps a file open without delete sharing from being deleted: the file the
            // journal holds stays whole and goes on keeping what comes.
            ASSERT_TRUE(fs::exists(first)) << refused.message();
            ASSERT_FALSE(keep(blockB));
            EXPECT_EQ(path(), first);
            EXPECT_EQ(ReadFile(first), Kept({&blockA, &blockB}));
            continue;
        }
        if (row.after == After::nameTaken) {
            std::ofstream(first) << "someone else's";
            const std::string secondStem = fixedStem + "-2";
            expected = Str(folder / (GetParam().capture ? secondStem + "-COM2.bin" : secondStem + ".txt"));
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
    const std::string failing = Str(GetParam().below.empty() ? home.path : home.path / GetParam().below);
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
    EXPECT_EQ(journal.TextPath(), Str(folder / (withStem(GetParam().stem) + ".txt")));
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
    TJournal first{Str(folder), clock};
    TJournal second{Str(folder), clock};
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
    EXPECT_EQ(first.TextPath(), Str(folder / (fixedStem + ".txt")));
    EXPECT_EQ(second.TextPath(), Str(folder / (fixedStem + "-2.txt")));
    EXPECT_EQ(ReadFile(first.TextPath()),
              GetParam().firstLabel == 0 ? AsSaved({&blockA, &blockA}) : AsSaved({&blockA}));
    EXPECT_EQ(ReadFile(second.TextPath()),
              GetParam().secondLabel == 0 ? AsSaved({&blockB, &blockB}) : AsSaved({&blockB}));
    EXPECT_EQ(first.CapturePath(3), Str(folder / (fixedStem + "-COM3.bin")));
    EXPECT_EQ(second.CapturePath(3), Str(folder / (fixedStem + "-2-COM3.bin")));
    EXPECT_EQ(ReadFile(second.CapturePath(3)), std::string(secondBytes.begin(), secondBytes.end()));
}

INSTANTIATE_TEST_SUITE_P(FirstFiles, JournalSameSecondTest,
                         ::testing::Values(SameSecondRow{"BothCaptures", 1, 2}, SameSecondRow{"SameCapture", 2, 2},
                                           SameSecondRow{"TextThenCapture", 0, 2},
                                           SameSecondRow{"CaptureThenText", 1, 0}, SameSecondRow{"BothTexts", 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
