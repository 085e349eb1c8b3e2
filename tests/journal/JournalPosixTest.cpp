// SPDX-License-Identifier: MIT
// The journal on POSIX systems: where it lives by the base directory rules, the modes of what it
// makes, and a disk that stops taking bytes part-way through a write (a file size limit).
#include "JournalTestSupport.h"

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace journal_test;

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

// ---- Modes ----

TEST_F(JournalTest, FolderAndItsNewParentsArePrivateToTheUser) {
    ASSERT_FALSE(journal.AppendBlock(blockA));
    for (const fs::path& made : {home.path / "data", home.path / "data" / "tavro", folder}) {
        struct stat info {};
        ASSERT_EQ(stat(made.c_str(), &info), 0) << made;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
    }
}

// ---- Failures ----

TEST_F(JournalTest, FolderThatCannotBeMadeIsTriedAgainWithNothingLost) {
    std::ofstream(home.path / "data") << "a file where the folder should be";
    const auto error = journal.AppendBlock(blockA);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->osError, ENOTDIR);
    EXPECT_EQ(error->path, Str(home.path / "data" / "tavro"));
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
