// SPDX-License-Identifier: MIT
#include "ReceivedData.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace {

void put(std::vector<unsigned char>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

// Ordinal comparison, byte by byte as unsigned values; a prefix sorts first.
bool greaterOrdinal(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

} // namespace

std::string_view TReceivedData::EndTimeField() const {
    const std::size_t n = std::min(laps.size(), splits.size());
    if (n >= 1 && greaterOrdinal(splits[n - 1].text, endTime.text))
        return " ";
    return endTime.text;
}

void TReceivedData::BuildReport(std::vector<unsigned char>& output) const {
    output.clear();
    const std::size_t n = std::min(laps.size(), splits.size());

    put(output, "MCH:       \t");
    put(output, groupNumber.text);
    put(output, "\r\rRecord Date:\t");
    put(output, date.text);
    put(output, "\r");
    for (std::size_t i = 1; i <= n; ++i) {
        const std::string number = std::to_string(i);
        put(output, "\rLap");
        put(output, number);
        put(output, ":\t");
        put(output, laps[i - 1].text);
        put(output, "\tSplit");
        put(output, number);
        put(output, ":\t");
        put(output, splits[i - 1].text);
        put(output, "\r");
    }
    put(output, "\r");
    if (hasAverage || hasFastest || hasSlowest) {
        put(output, "Average Lap Time:   \t");
        put(output, averageLap.text);
        put(output, "\rFastest Lap Time:   \t");
        put(output, fastestLap.text);
        put(output, "\rSlowest Lap Time:   \t");
        put(output, slowestLap.text);
        put(output, "\r");
    }
    put(output, "\rEnd Time:       \t");
    put(output, EndTimeField());
    put(output, "\r-------------------------------------");
    put(output, "-----------------------------------\r\r");
}
