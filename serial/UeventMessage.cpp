// SPDX-License-Identifier: MIT
#include "UeventMessage.h"

#include <vector>

std::optional<TUeventMessage> ParseUevent(std::string_view datagram) {
    std::vector<std::string_view> fields;
    while (!datagram.empty()) {
        const auto end = datagram.find('\0');
        fields.push_back(datagram.substr(0, end));
        if (end == std::string_view::npos)
            break;
        datagram.remove_prefix(end + 1);
    }
    if (fields.empty() || fields.front().starts_with("libudev"))
        return std::nullopt;
    const std::string_view summary = fields.front();
    const auto at = summary.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == summary.size())
        return std::nullopt;

    TUeventMessage event;
    bool sawAction = false, sawPath = false, sawSubsystem = false;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::string_view field = fields[i];
        if (field.empty())
            continue; // a trailing NUL
        const auto equals = field.find('=');
        if (equals == std::string_view::npos || equals == 0)
            return std::nullopt;
        const std::string_view key = field.substr(0, equals);
        const std::string value(field.substr(equals + 1));
        if (key == "ACTION") {
            event.action = value;
            sawAction = true;
        } else if (key == "DEVPATH") {
            event.devPath = value;
            sawPath = true;
        } else if (key == "SUBSYSTEM") {
            event.subsystem = value;
            sawSubsystem = true;
        } else if (key == "DEVNAME") {
            event.devName = value;
        }
    }
    if (!sawAction || !sawPath || !sawSubsystem || summary.substr(0, at) != event.action ||
        summary.substr(at + 1) != event.devPath)
        return std::nullopt;
    return event;
}

bool ChangesSerialPorts(const TUeventMessage& event) {
    return event.subsystem == "tty" && (event.action == "add" || event.action == "remove" || event.action == "move");
}
