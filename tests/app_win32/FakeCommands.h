// SPDX-License-Identifier: MIT
#pragma once

#include "MainFormCommands.h"

#include <functional>

// Commands behind the window in its tests: they count the clears and connect at once.
struct TFakeCommands : TMainFormCommands {
    int* clears = nullptr;
    bool connected = false;
    std::function<void()> onStart;
    void Start() override {
        if (onStart)
            onStart();
    }
    void Connect() override { connected = true; }
    void Disconnect() override { connected = false; }
    void Setting() override {}
    void Clear() override {
        if (clears)
            ++*clears;
    }
    void FileOpen() override {}
    void FileSaveAs() override {}
    void Print() override {}
    bool ConnectEnabled() const override { return !connected; }
    bool DisconnectEnabled() const override { return connected; }
    bool ClearEnabled() const override { return true; }
    std::array<std::string, 2> StatusPanels() const override {
        return {connected ? "COM3 9600" : "Not connected", connected ? "Listening" : ""};
    }
};
