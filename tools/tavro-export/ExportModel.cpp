// SPDX-License-Identifier: MIT
#include "ExportModel.h"

#include <array>

namespace exporter {

std::optional<std::uint32_t> TimeHundredths(std::string_view text) {
    // Positions of the digits in H:MM'SS.cc and the largest value each may hold.
    constexpr std::string_view shape = "0:00'00.00";
    constexpr std::array<std::size_t, 7> positions{0, 2, 3, 5, 6, 8, 9};
    constexpr std::array<unsigned, 7> largest{9, 5, 9, 5, 9, 9, 9};
    if (text.size() != shape.size())
        return std::nullopt;
    for (const std::size_t separator : {1u, 4u, 7u})
        if (text[separator] != shape[separator])
            return std::nullopt;
    std::array<unsigned, 7> d{};
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const char c = text[positions[i]];
        if (c < '0' || c > '9' || unsigned(c - '0') > largest[i])
            return std::nullopt;
        d[i] = unsigned(c - '0');
    }
    const std::uint32_t seconds = d[0] * 3600 + (d[1] * 10 + d[2]) * 60 + d[3] * 10 + d[4];
    return seconds * 100 + d[5] * 10 + d[6];
}

std::string SecondsText(std::uint32_t hundredths) {
    std::string text = std::to_string(hundredths / 100);
    text += '.';
    text += static_cast<char>('0' + hundredths / 10 % 10);
    text += static_cast<char>('0' + hundredths % 10);
    return text;
}

void SplitDate(std::string_view text, std::string& date, std::string& weekday) {
    const std::size_t tab = text.find('\t');
    date.assign(text.substr(0, tab));
    weekday.assign(tab == std::string_view::npos ? std::string_view() : text.substr(tab + 1));
}

std::string EndTimeValue(std::string_view field) {
    return field == " " ? std::string() : std::string(field);
}

} // namespace exporter
