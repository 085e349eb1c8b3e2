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
