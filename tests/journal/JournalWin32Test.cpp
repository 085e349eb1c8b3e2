// SPDX-License-Identifier: MIT
// The journal's Windows file system calls and the Save-as replacement, under Wine, in a folder
// of the test's own.
#include "Exceptions.h"
#include "Journal.h"
#include "JournalFileSystem.h"
#include "SaveReplacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() {
        path = fs::temp_directory_path() /
               ("tavro-journal-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Utf8(const fs::path& path) {
    const auto text = path.generic_u8string();
    return {text.begin(), text.end()};
}

TEST(JournalWin32Test, FileCallsKeepTheirContract) {
    TempFolder temp;
    TJournalFileSystem& system = SystemJournalFileSystem();
    const std::string folder = Utf8(temp.path / "a");
    bool made = false;
    ASSERT_EQ(system.MakeFolder(folder, made), 0);
    EXPECT_TRUE(made);
    ASSERT_EQ(system.MakeFolder(folder, made), 0) << "a folder that exists is fine";
    EXPECT_FALSE(made);
    EXPECT_EQ(system.SyncFolder(folder), 0);

    const std::string name = folder + "/run.txt";
    TJournalFileSystem::Handle file = TJournalFileSystem::noHandle;
    ASSERT_EQ(system.CreateNew(name, file), 0);
    TJournalFileSystem::Handle second = TJournalFileSystem::noHandle;
    EXPECT_EQ(system.CreateNew(name, second), EEXIST) << "a stem is claimed once";
    bool madeOverFile = false;
    EXPECT_EQ(system.MakeFolder(name, madeOverFile), EEXIST);

    const unsigned char bytes[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(system.WriteAt(file, bytes, 6, 0).size, 6u);
    EXPECT_EQ(system.WriteAt(file, bytes, 2, 10).size, 2u) << "at its offset, past the end";
    EXPECT_EQ(system.SyncData(file), 0);
    unsigned char back[16] = {};
    const auto read = system.ReadAt(file, back, sizeof back, 4);
    EXPECT_EQ(read.error, 0);
    EXPECT_EQ(read.size, 8u);
    EXPECT_EQ(system.ReadAt(file, back, sizeof back, 100).size, 0u) << "nothing, and no error, at the end";
    EXPECT_EQ(system.Truncate(file, 3), 0);
    std::uint64_t links = 0;
    EXPECT_EQ(system.LinkCount(file, links), 0);
    EXPECT_EQ(links, 1u);
    system.Close(file);
    EXPECT_EQ(ReadAll(name), "abc");

    std::vector<std::string> names;
    ASSERT_EQ(system.ListFolder(folder, names), 0);
    EXPECT_NE(std::find(names.begin(), names.end(), "run.txt"), names.end());
    EXPECT_NE(system.ListFolder(folder + "/missing", names), 0);
}

TEST(JournalWin32Test, BlocksAreKeptWithCrLfInTheFolderGiven) {
    TempFolder temp;
    const std::string folder = Utf8(temp.path / "data" / "tavro" / "received");
    TJournal journal(folder, [] { return std::time_t(1700000000); });
    const std::vector<unsigned char> block{'0', '0', '1', '\r', 'x', '\t', 'y', '\r'};
    ASSERT_FALSE(journal.AppendBlock(block));
    ASSERT_FALSE(journal.AppendBlock(block));
    EXPECT_EQ(ReadAll(journal.TextPath()), "001\r\nx\ty\r\n001\r\nx\ty\r\n");
}

TEST(JournalWin32Test, FolderIsTheUsersLocalApplicationData) {
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string saved = before ? before : "";
    _putenv_s("XDG_DATA_HOME", "");
    const std::string folder = JournalFolder();
    if (!saved.empty())
        _putenv_s("XDG_DATA_HOME", saved.c_str());
    EXPECT_TRUE(folder.ends_with("/AppData/Local/Tavro/received")) << folder;
    EXPECT_EQ(folder.find('\\'), std::string::npos) << folder;
}

TEST(JournalWin32Test, SaveReplacingLeavesTheNewFileOrTheOld) {
    TempFolder temp;
    const fs::path target = temp.path / "saved.txt";
    struct Row {
        const char* name;
        std::string bytes;
    };
    const Row rows[] = {{"a new file", "first\r\n"}, {"replacing it", "second, longer\r\n"}, {"emptying it", ""}};
    for (const Row& row : rows) {
        SaveFileReplacing(target, row.bytes);
        EXPECT_EQ(ReadAll(target), row.bytes) << row.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(temp.path), {}), 1) << row.name << ": no file left beside it";
    }
    EXPECT_THROW(SaveFileReplacing(temp.path / "no-folder" / "x.txt", "x"), EFCreateError);
    EXPECT_EQ(ReadAll(target), "");
}

} // namespace
