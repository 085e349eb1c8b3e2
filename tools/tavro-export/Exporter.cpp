// SPDX-License-Identifier: MIT
#include "Exporter.h"

#include "CaptureReplay.h"
#include "GroupFromDecoder.h"
#include "ReportParser.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace exporter {

namespace {

constexpr std::size_t readBytes = 64 * 1024;

bool hasHeaderUnit(std::string_view bytes) {
    // The decoder's header pattern under its mask: AB C0 0x ?? ?A AA AA AA.
    constexpr std::array<unsigned char, 8> pattern{0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA};
    constexpr std::array<unsigned char, 8> mask{0xFF, 0xFF, 0xF0, 0x00, 0x0F, 0xFF, 0xFF, 0xFF};
    for (std::size_t at = bytes.find('\xAB'); at != std::string_view::npos && at + 8 <= bytes.size();
         at = bytes.find('\xAB', at + 1)) {
        std::size_t j = 0;
        while (j < 8 && (static_cast<unsigned char>(bytes[at + j]) & mask[j]) == pattern[j])
            ++j;
        if (j == 8)
            return true;
    }
    return false;
}

// Reads until `buffer` holds `wanted` bytes or the input ends; false on a read error.
bool readUpTo(int fd, std::vector<char>& buffer, std::size_t wanted, bool& ended) {
    while (buffer.size() < wanted) {
        const std::size_t have = buffer.size();
        buffer.resize(wanted);
        const ssize_t n = ::read(fd, buffer.data() + have, wanted - have);
        buffer.resize(have + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            ended = true;
            return true;
        }
    }
    return true;
}

} // namespace

InputKind SniffInput(std::string_view firstBytes) {
    if (hasHeaderUnit(firstBytes))
        return InputKind::capture;
    for (const char c : firstBytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t' && c != '\r' && c != '\n')
            return InputKind::capture;
    }
    return InputKind::reportText;
}

Exporter::Exporter(TableWriter& writer, BufferedOutput& output, Report report)
    : writer(writer), output(output), report(std::move(report)) {}

void Exporter::WriteGroup(const std::string& name, const GroupRow& group) {
    writer.Group(output.Buffer(), name, group);
    output.FlushIfFull();
}

InputOutcome Exporter::ExportFile(int fd, const std::string& name) {
    InputOutcome outcome;
    std::vector<char> bytes;
    bytes.reserve(sniffBytes);
    bool ended = false;
    const auto failRead = [&] {
        outcome.readable = false;
        outcome.readError = std::strerror(errno);
        return outcome;
    };
    if (!readUpTo(fd, bytes, sniffBytes, ended))
        return failRead();
    const InputKind kind = SniffInput(std::string_view(bytes.data(), bytes.size()));

    if (kind == InputKind::reportText) {
        ReportParser parser(
            [&](const GroupRow& group, std::size_t) {
                ++outcome.groups;
                WriteGroup(name, group);
            },
            [&](const Problem& problem) {
                ++outcome.problems;
                report(name + ":" + std::to_string(problem.line) + ": " + problem.message);
            });
        while (true) {
            parser.Feed(std::string_view(bytes.data(), bytes.size()));
            if (ended)
                break;
            bytes.clear();
            if (!readUpTo(fd, bytes, readBytes, ended))
                return failRead();
        }
        parser.Finish();
        return outcome;
    }

    TReceivedData decoder;
    GroupRow group;
    decoder.onGroupComplete = [&](const TReceivedData& d) {
        GroupFromDecoder(d, group);
        ++outcome.groups;
        WriteGroup(name, group);
    };
    CaptureReplay replay(decoder, CaptureReplay::pollBytes, {});
    while (true) {
        replay.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        if (ended)
            break;
        bytes.clear();
        if (!readUpTo(fd, bytes, readBytes, ended))
            return failRead();
    }
    replay.Finish();
    if (decoder.headerCount > 0) {
        // A run that ended, or an adapter pulled, while the timer was sending: the timer keeps
        // that group until it is confirmed, so this is worth a note but not a failure. The
        // open group's header unit is at the start of the decoder's buffer.
        report(name + ": the capture ends inside a group that did not complete (at byte offset " +
               std::to_string(replay.Offset() - decoder.buffer.size()) + "); it is not exported");
    }
    if (outcome.groups == 0) {
        ++outcome.problems;
        report(name + ": no complete group in this capture");
    }
    return outcome;
}

} // namespace exporter
