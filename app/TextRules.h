// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the text view takes from a file, whatever toolkit draws it.

// The largest text the view takes from a file ("Text exceeds memo capacity" above it).
inline constexpr std::int64_t memoCapacityBytes = 32 * 1024 * 1024;

// The longest line the view takes from a file. Text views lay a line out as a whole, at a cost
// that grows faster than its length: a file without line breaks (a raw capture opened by
// mistake) would keep the window busy for minutes, with the receivers unanswered. Reports and
// the tables made from them have lines of a few dozen characters.
inline constexpr std::size_t longestLineBytes = 4096;

// Looks at a file's bytes piece by piece as they are read: where its text ends (the first zero
// byte) and whether a line is longer than longestLineBytes. Lines end at CR, LF or CR LF, also
// when a CR LF is cut between two pieces.
class TTextFileScan {
public:
    // The next piece of the file. Bytes after the end of the text are not looked at.
    void Feed(const char* data, std::size_t size);

    // A zero byte was met: nothing after it belongs to the text, so reading may stop.
    bool Ended() const { return ended; }
    // Bytes of text so far (before any zero byte).
    std::int64_t TextBytes() const { return textBytes; }
    // The 1-based number of the first line longer than longestLineBytes, or 0.
    std::int64_t OverlongLine() const { return overlongLine; }

private:
    bool ended = false;
    bool afterCr = false;
    std::int64_t textBytes = 0;
    std::int64_t line = 1;
    std::size_t lineLength = 0;
    std::int64_t overlongLine = 0;
};

// The message for a file whose line `line` is too long, 8-bit like every text of the program.
std::string OverlongLineMessage(const std::string& fileName, std::int64_t line);

// Splits 8-bit text into lines. A line ends at CR, at LF or at CR LF; a last line without a
// line end is still a line; a line end at the very end adds no empty line; a zero byte ends
// the text.
std::vector<std::string> SplitLines(const char* data, std::size_t size);
