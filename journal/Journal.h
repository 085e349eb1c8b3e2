// SPDX-License-Identifier: MIT
#pragma once

#include "JournalFileSystem.h"

#include <array>
#include <cstddef>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Where received groups are kept: $XDG_DATA_HOME/tavro/received, or ~/.local/share/tavro/received
// when XDG_DATA_HOME is unset, empty or not an absolute path (the XDG base directory rules).
std::string JournalFolder();

// Why something could not be kept: the file or folder concerned and the system's error number.
struct TJournalError {
    std::string path;
    int osError = 0;
    // The system's words for osError ("No space left on device").
    std::string Reason() const;
};

// The journal of one run of the program. The timer forgets a group once it hears 0xFA, so
// every group is put on stable storage before it is confirmed:
//   STEM.txt        every completed group's report block, in the order received, each carriage
//                   return written as CR LF: what "Save as" writes for a view of these groups;
//   STEM-COMn.bin   every byte read from the port of slot n (1..16), in order, as read.
// STEM is the local time at which the run's first file was made, YYYY-MM-DD_HH-MM-SS, with -2,
// -3, ... after it when files of that name exist. The text file is always the run's first file
// (it may stay empty), made so that it fails when the name exists: that claims STEM for this run
// alone, also against another program started in the same second. Nothing is made before it is
// needed, so a run without received bytes leaves no file, and nothing is ever deleted. A file
// deleted while the run keeps it is made again before the next group is confirmed.
//
// A failed write never leaves a part of it in a file: the file is cut back to its last good
// length, and what could not be written is kept in memory and written first at the next call,
// so once the disk takes writes again the files are whole and in order.
//
// AppendBlock may be called from any thread. The capture calls of one label must come from one
// thread at a time (each receiver thread has its own label).
class TJournal {
public:
    static constexpr int captureCount = 16;
    // What may wait in memory for a disk that takes no writes. Blocks are about 1 KiB each, so
    // the text limit is never reached in practice; a capture past its limit is given up for the
    // rest of the run rather than written with a hole in it.
    static constexpr std::size_t pendingTextLimit = 64 * 1024 * 1024;
    static constexpr std::size_t pendingCaptureLimit = 8 * 1024 * 1024;

    using Clock = std::function<std::time_t()>;

    // `folder` is made (with its parents, mode 0700, each synced into its parent) when the first
    // file is. `now` gives the time the run's file names are made from (the system clock by
    // default). Every file and folder is reached through `fileSystem`, which must outlive the
    // journal.
    explicit TJournal(std::string folder, Clock now = {}, TJournalFileSystem& fileSystem = SystemJournalFileSystem());
    ~TJournal();
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // Appends bytes read from the port of slot `label` (1..captureCount) to its capture. They are
    // handed to the system, not synced.
    std::optional<TJournalError> AppendCapture(int label, const unsigned char* data, std::size_t size);
    // Returns without an error once everything appended to capture `label` is on stable storage.
    std::optional<TJournalError> SyncCapture(int label);
    // Appends one report block and returns without an error once it is on stable storage.
    std::optional<TJournalError> AppendBlock(const std::vector<unsigned char>& block);

    const std::string& Folder() const { return folder; }
    // The run's files (made or still to be made); empty until the run's first file was made.
    std::string TextPath() const;
    std::string CapturePath(int label) const;

private:
    class File;

    // Makes `file` under the run's stem, choosing and claiming the stem first if needed.
    std::optional<TJournalError> Create(File& file, const std::string& suffix);
    // Before a sync that a confirmation waits for: a file deleted while open (old journal files
    // may be deleted by hand) would take what it keeps with it when it is closed, so it is made
    // again, under its name when that is free, holding everything kept so far.
    std::optional<TJournalError> KeepNamed(File& file, const std::string& suffix);
    // Chooses the run's stem and claims it by making its text file, which no other run can make
    // too; files made under the stem later need no claim of their own.
    std::optional<TJournalError> ClaimStem();

    std::string folder;
    Clock now;
    TJournalFileSystem& fileSystem;
    mutable std::mutex stemMutex; // guards stem, unclaimedText, replacedPaths and unsyncedFolders
    std::string stem;
    // The text file made by the claim, until the first block takes it over.
    std::unique_ptr<File> unclaimedText;
    // The files made again under another name than the stem's, by their suffix.
    std::map<std::string, std::string> replacedPaths;
    // Folders made whose names are not yet synced into their parents.
    std::set<std::string> unsyncedFolders;
    std::mutex textMutex;
    std::unique_ptr<File> text;
    std::array<std::unique_ptr<File>, captureCount> captures;
};
