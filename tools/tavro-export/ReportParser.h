// SPDX-License-Identifier: MIT
#pragma once

#include "ExportModel.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace exporter {

// Something in a text that is not report text, at a 1-based line number.
struct Problem {
    std::size_t line = 0;
    std::string message;
    bool operator==(const Problem&) const = default;
};

// Reads report text (the blocks the program shows, as saved, journalled or reopened and
// saved again) and hands over one GroupRow per complete block. Bytes come in pieces of any
// size; CR LF, LF and CR each end a line, also when a CR LF is split between two pieces, and
// a last line without a line end still counts. Empty lines between blocks are skipped; the
// trailing spaces and TABs that some editors strip are not needed, and a UTF-8 byte-order
// mark before the first line is skipped. A line that belongs to no block, and a block that
// breaks off, are reported through the problem callback once they are over (a run of stray
// lines is one problem); reading goes on at the next block. Memory stays bounded: one
// block's laps at most, and a line is kept up to maxLineBytes.
class ReportParser {
public:
    using GroupSink = std::function<void(const GroupRow& group, std::size_t firstLine)>;
    using ProblemSink = std::function<void(const Problem& problem)>;

    // Lap numbers in a block run from 1 without a gap. The decoder weighs the three index
    // nibbles as they stand, so a lap record's number is at most 15 * 100 + 15 * 10 + 15.
    static constexpr unsigned maxLaps = 1665;
    // Far above the longest line a block has (a lap line of two sums in their widest form).
    static constexpr std::size_t maxLineBytes = 4096;

    ReportParser(GroupSink onGroup, ProblemSink onProblem);

    void Feed(std::string_view bytes);
    // End of the input: the last line, and a block or run of stray lines still open.
    void Finish();

    std::size_t LineCount() const { return lineNumber; }

private:
    enum class Expect {
        header,           // between blocks: "MCH:" starts one
        emptyAfterNumber, // then "Record Date:"
        date,
        emptyAfterDate,  // then laps or statistics
        lapOrStatistics, // "Lap<k>:", "Average Lap Time:", or the empty line before "End Time:"
        emptyAfterLap,
        fastest,
        slowest,
        emptyAfterSlowest, // then "End Time:"
        endTime,
        hyphens,           // the block's last line
        restOfBrokenBlock, // skipped up to its line of hyphens or the next block
    };

    void EndLine(std::string_view line, bool overlong);
    void OnLine(std::string_view line, bool overlong);
    bool StartBlock(std::string_view line);
    void BreakOff(Expect wanted, std::string_view line, bool overlong);
    void EndBrokenBlock(std::size_t lastLine);
    void EndStrayRun();
    std::string Expected(Expect wanted) const;

    GroupSink onGroup;
    ProblemSink onProblem;

    std::string partial; // a line not yet ended, up to maxLineBytes of it
    bool partialOverlong = false;
    bool afterCarriageReturn = false; // a LF right after it ends no line
    bool pendingLine = false;         // bytes of an unended line were fed
    std::size_t lineNumber = 0;

    Expect expect = Expect::header;
    GroupRow current;
    std::size_t blockStart = 0;
    Problem broken;             // of the block being skipped
    std::size_t strayStart = 0; // first line of a run of stray lines, 0 when none
    std::size_t strayEnd = 0;
};

} // namespace exporter
