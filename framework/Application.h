// SPDX-License-Identifier: MIT
#pragma once

#include "ApplicationCore.h"
#include "Exceptions.h"

#include <QObject>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class QApplication;
class QWidget;

// The application object: the Qt application, the user-interface thread (the thread that
// creates it) and the application-level error handler. One at a time, reachable through the
// global Application (and, for toolkit-free code, ApplicationCore) while it exists.
class TApplication : public TApplicationCore {
public:
    // Creates the Qt application unless one exists already (tests keep one for the whole run
    // and create a TApplication per test). Raises std::logic_error if a TApplication exists.
    TApplication(int& argc, char** argv);
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;
    // Calls still queued for the user-interface thread fail in their threads (see UiThread.h).
    virtual ~TApplication();

    // Sets the terminating flag and ends the event loop: at once when it runs (nested loops of
    // modal dialogs included), otherwise as soon as Run is called. Any thread.
    void Terminate();
    bool Terminated() const override { return terminated.load(); }

    // Runs the event loop until Terminate or the last window closes; returns at once when the
    // application is terminating already.
    void Run();
    // Handles the events waiting now, calls queued for the user-interface thread included.
    void ProcessMessages();

    // Shows the error's message (ExceptionMessage) in a message box with an OK button and the
    // error icon, captioned Title, over the active window; then returns and the program goes
    // on. From another thread it is shown on the user-interface thread. Never raises.
    void ShowException(const std::exception_ptr& error) override;
    // A message box with an OK button and no icon, captioned Title, with no owner (see
    // MessageBox in Dialogs.h). Any thread; never raises.
    void ShowMessage(const std::string& text) override;
    // ShowException for the exception being handled; inside a catch block.
    void HandleException();

    // Caption of the error boxes; the program's name (the executable's name by default).
    std::string Title;
    // The main window, owner of error boxes when no window is active. Set by RunApplication.
    QWidget* MainWindow = nullptr;

    // Ends the main loop if it runs (all nested loops with it). User-interface thread only.
    void EndLoop();

private:
    std::unique_ptr<QApplication> ownApplication;
    std::unique_ptr<QObject> dispatcher;
    std::atomic<bool> terminated{false};
    bool running = false; // inside Run's event loop; user-interface thread only
};

extern TApplication* Application;

// CallGuarded (ApplicationCore.h) sends what it catches to the TApplication's ShowException.

// The program entry: creates the application (or uses the one that exists), creates the main
// window, shows it and runs the event loop unless the application is terminating already, then
// destroys the window before the application. An error raised on the way (also by
// createMainWindow) is shown as ShowException shows it. Always returns 0.
int RunApplication(int& argc, char** argv, const std::function<std::unique_ptr<QWidget>()>& createMainWindow);
