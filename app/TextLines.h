// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The text of a read-only text view as its lines, 8-bit, without their line ends: appending a
// group costs the group's length, whatever the text already holds, and line n is found at
// once. Between two lines there is a line end; after the last one there may be one too.
class TTextLines {
public:
    // Lines, not counting the empty line after a final line end.
    int Count() const { return static_cast<int>(starts.size()) - 1; }
    std::string_view Line(int line) const;
    bool EndsWithLineEnd() const { return endsWithLineEnd; }
    // Bytes of the text with CR LF line ends, as it is saved.
    std::int64_t Bytes() const;

    // Appends as a view's line list does: each line after the last one. When the text ended
    // with a line end (or was empty) the new lines end with one too; otherwise the last
    // unended line gets its line end and the last new line stays unended.
    void Append(const std::vector<std::string>& lines);
    // Lines end at CR, LF or CR LF, also when a CR LF is cut between two calls; a zero byte is
    // taken as it is (the caller has cut the text at it).
    void AppendText(std::string_view text);
    void Clear();
    void Swap(TTextLines& other) noexcept;

    // The whole text with CR LF line ends.
    std::string Text() const;
    // Lines [first, last) of the text, each followed by CR LF.
    std::string LinesText(int first, int last) const;

private:
    void EndLine();

    std::string bytes;                  // every line's bytes, one after another
    std::vector<std::size_t> starts{0}; // where each line begins, and where the open one does
    bool endsWithLineEnd = false;
    bool afterCr = false; // the last byte taken by AppendText was a CR
};
