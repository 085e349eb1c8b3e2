// SPDX-License-Identifier: MIT
// What the journal's tests share on every platform: blocks, the fixed clock, and the system's
// file system with the journal's calls recorded and some of them failed on request.
#pragma once

#include "Journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace journal_test {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// The journal's paths are UTF-8 with '/' between their parts, on every platform.
inline std::string Str(const fs::path& path) {
    return path.generic_string();
}

// A folder of the test's own, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        path = fs::temp_directory_path() / ("tavro-journal-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    fs::path path;
};


namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline Bytes BytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// 2026-12-08 10:15:30 local time, whatever the zone.
inline std::time_t FixedTime() {
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
inline const std::string fixedStem = "2026-12-08_10-15-30";

inline const Bytes blockA =
    BytesOf("MCH:       \t001\r\rRecord Date:\t\r\r\r\rEnd Time:       \t\r" + std::string(72, '-') + "\r\r");
inline const Bytes blockB = BytesOf("MCH:       \t002\r\r\r");

// What "Save as" writes for these blocks: every carriage return as CR LF.
inline std::string AsSaved(std::initializer_list<const Bytes*> blocks) {
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
    TempFolder home;
    fs::path folder = home.path / "data" / "tavro" / "received";
    WatchedFileSystem watched;
    TJournal journal{Str(folder), FixedTime, watched};
};

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

} // namespace journal_test
