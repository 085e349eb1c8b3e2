// SPDX-License-Identifier: MIT
#include "TextRules.h"

void TTextFileScan::Feed(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size && !ended; ++i) {
        const char c = data[i];
        if (c == '\0') {
            ended = true;
            break;
        }
        ++textBytes;
        const bool lfOfCrLf = afterCr && c == '\n';
        afterCr = c == '\r';
        if (lfOfCrLf)
            continue;
        if (c == '\r' || c == '\n') {
            ++line;
            lineLength = 0;
            continue;
        }
        if (++lineLength > longestLineBytes && overlongLine == 0)
            overlongLine = line;
    }
}

std::string OverlongLineMessage(const std::string& fileName, std::int64_t line) {
    return "Cannot open file " + fileName + ": line " + std::to_string(line) + " is longer than " +
           std::to_string(longestLineBytes) + " characters, so it is not a text file the view can show";
}

std::vector<std::string> SplitLines(const char* data, std::size_t size) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    for (; i < size && data[i] != '\0'; ++i) {
        if (data[i] != '\r' && data[i] != '\n')
            continue;
        lines.emplace_back(data + start, i - start);
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (i > start)
        lines.emplace_back(data + start, i - start);
    return lines;
}
