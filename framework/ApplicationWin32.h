// SPDX-License-Identifier: MIT
#pragma once

#include "ApplicationCore.h"

#include <atomic>
#include <memory>
#include <string>

// The application object of the Win32 program: the thread that creates it becomes the
// user-interface thread. Other threads' calls (UiThread.h) reach it as a message to a
// message-only window, so the main loop and every modal loop (message boxes, common dialogs)
// deliver them. One at a time.
class TWin32Application : public TApplicationCore {
public:
    // Raises Exception when the message window cannot be created, or when an application object
    // exists already.
    TWin32Application();
    TWin32Application(const TWin32Application&) = delete;
    TWin32Application& operator=(const TWin32Application&) = delete;
    // Calls still queued for the user-interface thread fail in their threads.
    virtual ~TWin32Application();

    // Sets the terminating flag and ends the main loop (PostQuitMessage on the user-interface
    // thread). Any thread.
    void Terminate();
    bool Terminated() const override { return terminated.load(); }

    // Runs the message loop until Terminate; returns at once when terminating already.
    void Run();
    // Dispatches the messages waiting now, queued calls included. User-interface thread.
    void ProcessMessages();

    void ShowException(const std::exception_ptr& error) override;
    void ShowMessage(const std::string& text) override;

    // Caption of the message boxes.
    std::string Title = "Tavro";
    // Owner of the message boxes when no window of the thread is active; may stay null.
    void* MainWindow = nullptr;

private:
    class Host;
    std::unique_ptr<Host> host;
    std::atomic<bool> terminated{false};
};
