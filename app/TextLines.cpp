// SPDX-License-Identifier: MIT
#include "TextLines.h"

#include <algorithm>
#include <utility>

// starts holds the beginning of every line and, last, the end of the last one, so line n is
// [starts[n], starts[n + 1]). An empty text is starts == {0}.

std::string_view TTextLines::Line(int line) const {
    if (line < 0 || line >= Count())
        return {};
    const auto n = static_cast<std::size_t>(line);
    return std::string_view(bytes).substr(starts[n], starts[n + 1] - starts[n]);
}

std::int64_t TTextLines::Bytes() const {
    const auto lines = static_cast<std::int64_t>(Count());
    if (lines == 0)
        return 0;
    return static_cast<std::int64_t>(bytes.size()) + 2 * (lines - 1) + (endsWithLineEnd ? 2 : 0);
}

void TTextLines::Append(const std::vector<std::string>& lines) {
    if (lines.empty())
        return;
    const bool ended = Count() == 0 || endsWithLineEnd;
    for (const std::string& line : lines) {
        bytes += line;
        starts.push_back(bytes.size());
    }
    endsWithLineEnd = ended;
    afterCr = false;
}

void TTextLines::EndLine() {
    if (Count() == 0 || endsWithLineEnd)
        starts.push_back(bytes.size()); // an empty line
    endsWithLineEnd = true;
}

void TTextLines::AppendText(std::string_view text) {
    std::size_t at = 0;
    if (afterCr && !text.empty() && text.front() == '\n')
        at = 1; // the second half of a CR LF cut between two calls
    afterCr = false;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        if (end > at) {
            if (Count() == 0 || endsWithLineEnd) {
                starts.push_back(bytes.size());
                endsWithLineEnd = false;
            }
            bytes.append(text.substr(at, end - at));
            starts.back() = bytes.size();
        }
        if (end == text.size())
            break;
        EndLine();
        if (text[end] == '\r') {
            if (end + 1 == text.size())
                afterCr = true;
            else if (text[end + 1] == '\n')
                at = end + 2;
            else
                at = end + 1;
            if (afterCr)
                break;
        } else {
            at = end + 1;
        }
    }
}

void TTextLines::Clear() {
    TTextLines empty;
    Swap(empty);
}

void TTextLines::Swap(TTextLines& other) noexcept {
    std::swap(bytes, other.bytes);
    std::swap(starts, other.starts);
    std::swap(endsWithLineEnd, other.endsWithLineEnd);
    std::swap(afterCr, other.afterCr);
}

std::string TTextLines::Text() const {
    std::string text;
    text.reserve(static_cast<std::size_t>(Bytes()));
    for (int line = 0; line < Count(); ++line) {
        if (line)
            text += "\r\n";
        text += Line(line);
    }
    if (endsWithLineEnd)
        text += "\r\n";
    return text;
}

std::string TTextLines::LinesText(int first, int last) const {
    std::string text;
    for (int line = std::max(first, 0); line < std::min(last, Count()); ++line) {
        text += Line(line);
        text += "\r\n";
    }
    return text;
}
