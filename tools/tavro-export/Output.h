// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>

namespace exporter {

// Collects output in memory and writes it to a descriptor it does not own once a block's
// worth has gathered, so that memory stays flat however long the table gets.
class BufferedOutput {
public:
    static constexpr std::size_t blockBytes = 256 * 1024;

    explicit BufferedOutput(int fd) : fd(fd) {}

    // Writers append here.
    std::string& Buffer() { return buffer; }
    // Writes the buffer out when a block has gathered.
    void FlushIfFull() {
        if (buffer.size() >= blockBytes)
            Flush();
    }
    // Writes everything gathered; false once any write failed (errno in Error()). After a
    // failure nothing more is written and the buffer is dropped.
    bool Flush();
    int Error() const { return error; }

private:
    int fd;
    int error = 0;
    std::string buffer;
};

// The output file given with --output, written as a temporary file in the same folder and
// renamed over the target only when complete and on disk, so that a failed or interrupted
// export never leaves a half table where the old one was. The destructor removes the
// temporary file unless Commit succeeded.
class ReplacingFile {
public:
    // Raises std::system_error when the temporary file cannot be made.
    explicit ReplacingFile(std::filesystem::path target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    int Fd() const { return fd; }
    // Syncs the data, renames it over the target and syncs the folder. Raises
    // std::system_error on failure; the target is then as it was.
    void Commit();

private:
    std::filesystem::path target;
    std::filesystem::path temporary;
    int fd = -1;
    bool committed = false;
};

} // namespace exporter
