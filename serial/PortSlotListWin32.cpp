// SPDX-License-Identifier: MIT
#include "PortSlotList.h"

#include "CommPort.h"
#include "PortSlots.h"
#include "PortSlotsWin32.h"

#include <windows.h>

std::vector<std::string> CurrentPortSlotNames() {
    return SystemPortSlotNames();
}

std::string DescribeUnopenableSlots(const std::vector<std::string>& slotNames) {
    std::string lines;
    bool anyFound = false;
    for (const std::string& name : slotNames) {
        if (name.empty())
            continue;
        TCommPort port;
        try {
            port.SetPortName(name);
            port.OpenCommPort();
            port.CloseCommPort();
            anyFound = true;
        } catch (const ECommError& error) {
            // With SERIALCOMM unreadable the slots are COM1..COM16 whether they exist or not:
            // only the ports that are there but refuse are worth a line.
            if (error.code == ceOpenPort &&
                (error.osError == ERROR_FILE_NOT_FOUND || error.osError == ERROR_PATH_NOT_FOUND))
                continue;
            anyFound = true;
            lines +=
                (lines.empty() ? "" : "\n") + CommErrorReason(error, name, PortDevicePath(name), port.GetOpenFailure());
        }
    }
    return anyFound ? lines : "No serial ports were found.";
}

TPortRoots WatchedPortRoots() {
    return {};
}
