// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <string>

// What the Win32 window asks of the behaviour behind it: the commands and the states that the
// idle-time updates show. The program's is the window's behaviour; tests put a fake here.
class TMainFormCommands {
public:
    virtual ~TMainFormCommands() = default;
    virtual void Start() = 0;
    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    virtual void Setting() = 0;
    virtual void Clear() = 0;
    virtual void FileOpen() = 0;
    virtual void FileSaveAs() = 0;
    virtual void Print() = 0;
    virtual bool ConnectEnabled() const = 0;
    virtual bool DisconnectEnabled() const = 0;
    virtual bool ClearEnabled() const = 0;
    virtual std::array<std::string, 2> StatusPanels() const = 0;
};
