// SPDX-License-Identifier: MIT
#include "PortSlotsWin32.h"

#include <windows.h>

namespace {

// RAII owner of an open registry key.
class TRegistryKey {
public:
    explicit TRegistryKey(HKEY key) : key(key) {}
    ~TRegistryKey() { RegCloseKey(key); }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;
    HKEY get() const { return key; }

private:
    HKEY key;
};

} // namespace

std::optional<std::vector<TSerialCommEntry>> ReadSerialComm() {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &opened) !=
        ERROR_SUCCESS)
        return std::nullopt;
    TRegistryKey key(opened);
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<TSerialCommEntry> entries;
    std::string name(longestName + 1, '\0');
    std::vector<BYTE> data(longestData + 1);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LSTATUS status =
            RegEnumValueA(key.get(), index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        // A value added since the sizes were asked for: the list is not trustworthy as a whole.
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        if (type != REG_SZ)
            continue;
        std::string port(reinterpret_cast<const char*>(data.data()), dataLength);
        while (!port.empty() && port.back() == '\0')
            port.pop_back();
        entries.push_back({name.substr(0, nameLength), port});
    }
    return entries;
}

std::vector<std::string> SystemPortSlotNames() {
    return PortSlotNames(ReadSerialComm());
}
