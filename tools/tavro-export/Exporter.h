// SPDX-License-Identifier: MIT
#pragma once

#include "Output.h"
#include "TableWriter.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace exporter {

enum class InputKind { reportText, capture };

// Report text is plain 8-bit text. A capture is told apart by a header unit among its first
// bytes, or by a byte that no text holds (a NUL or another control character than TAB, CR and
// LF): captures usually begin with a header unit, and line noise before one is binary.
InputKind SniffInput(std::string_view firstBytes);

// Bytes read before deciding what an input is.
inline constexpr std::size_t sniffBytes = 64 * 1024;

struct InputOutcome {
    bool readable = true; // false: the input could not be read (readError says why)
    std::string readError;
    std::size_t groups = 0;
    std::size_t problems = 0; // parts that were not understood
};

// Exports one input into the table. `name` is what the file column and the messages say.
// Report text is parsed block by block; a capture is replayed through the decoder the way
// tavro-decode does, and each completed group's values are taken from the decoder's record
// model. Problems are reported through `report` as "NAME:LINE: message" (text) or
// "NAME: message" (captures), in input order.
class Exporter {
public:
    using Report = std::function<void(const std::string& message)>;

    Exporter(TableWriter& writer, BufferedOutput& output, Report report);

    // Reads fd to its end; the caller owns and closes it.
    InputOutcome ExportFile(int fd, const std::string& name);

private:
    void WriteGroup(const std::string& name, const GroupRow& group);

    TableWriter& writer;
    BufferedOutput& output;
    Report report;
};

} // namespace exporter
