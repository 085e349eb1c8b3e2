// SPDX-License-Identifier: MIT
#include "GroupFromDecoder.h"

#include <algorithm>

namespace exporter {

void GroupFromDecoder(const TReceivedData& decoder, GroupRow& out) {
    out.group = decoder.groupNumber.text;
    SplitDate(decoder.date.text, out.date, out.weekday);
    const std::size_t n = std::min(decoder.laps.size(), decoder.splits.size());
    out.laps.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.laps[i].lap = static_cast<unsigned>(i + 1);
        out.laps[i].lapTime = decoder.laps[i].text;
        out.laps[i].splitTime = decoder.splits[i].text;
    }
    const bool statistics = decoder.hasAverage || decoder.hasFastest || decoder.hasSlowest;
    out.average = statistics ? decoder.averageLap.text : std::string();
    out.fastest = statistics ? decoder.fastestLap.text : std::string();
    out.slowest = statistics ? decoder.slowestLap.text : std::string();
    out.endTime = EndTimeValue(decoder.EndTimeField());
}

} // namespace exporter
