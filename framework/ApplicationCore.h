// SPDX-License-Identifier: MIT
#pragma once

#include <exception>
#include <functional>
#include <string>

// What toolkit-free code (the receiver threads, the call queue) needs of the application object:
// its terminating flag, its error display and a plain message box. TApplication (Qt) and
// TWin32Application implement it; the one that exists is reachable through ApplicationCore.
class TApplicationCore {
public:
    // Set once the main loop has been asked to end; stays set while the main window is destroyed.
    virtual bool Terminated() const = 0;
    // Shows the error's message (ExceptionMessage) in a message box with an OK button and the
    // error icon, on the user-interface thread; from another thread it waits until the box has
    // closed. Never raises.
    virtual void ShowException(const std::exception_ptr& error) = 0;
    // Shows `text` in a message box with an OK button and no icon, captioned with the program's
    // title, and returns once it has closed. Any thread. Never raises.
    virtual void ShowMessage(const std::string& text) = 0;

protected:
    ~TApplicationCore() = default;
};

// The application object while one exists; null before and after.
extern TApplicationCore* ApplicationCore;

// Runs `call`; whatever it raises goes to the application-level handler (ShowException) and no
// further; without an application object, to standard error. For code that a toolkit calls
// directly, such as a timer's handler, where an exception must not reach the toolkit's loop.
// User-interface thread.
void CallGuarded(const std::function<void()>& call);
