// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QProgressDialog;
class QPushButton;
class QWidget;

// Long work on the user-interface thread: printing, opening or saving a large text. Receiver
// threads wait in RunOnUiThread until their call has run on this thread, and only then answer
// the timer, which sends a group again when its answer is late; so such work must keep running
// their calls. It is done in small pieces with Step between them, and Step, every
// pumpInterval:
// - runs the calls queued for the user-interface thread, and the other events, but no user
//   input, so that no other command can start (nor can one be triggered in any other way:
//   TAction::Execute drops triggers while work runs);
// - once the work has lasted showAfter, shows a modal progress dialog with a Cancel button
//   (from then on the events are all run; the dialog keeps the user's input away from the
//   window);
// - reports a cancel: the Cancel button, Escape or the dialog's close box, and the application
//   terminating (the work should end soon then, as the window is going).
// The receivers' calls may change the window meanwhile (a group appended to the text view, a
// port stopped, a message box shown): work that walks a document must find its place again
// after a pump rather than keep pointers into it.
class TLongWork {
public:
    struct Timing {
        std::chrono::milliseconds showAfter{500};
        std::chrono::milliseconds pumpInterval{20};
    };
    // For tests: a dialog at the first pump, a pump at every step.
    static void SetTiming(const Timing& timing);
    static Timing CurrentTiming();
    // For tests: called at the end of every pump, with the work (which may then be cancelled,
    // or its dialog looked at). An empty function removes it.
    using Hook = std::function<void(TLongWork& work)>;
    static void SetHook(Hook hook);

    // `owner` is the window the dialog is modal to (null: the whole application); `text` says
    // what is done (8-bit, see DisplayText); `maximum` is the value at which the work is done.
    TLongWork(QWidget* owner, const std::string& text, int maximum);
    TLongWork(const TLongWork&) = delete;
    TLongWork& operator=(const TLongWork&) = delete;
    // Closes the dialog.
    ~TLongWork();

    // Between two pieces of work, with the progress so far; pumps when pumpInterval has passed
    // since the last pump. Returns false once the work is cancelled.
    bool Step(int value);
    // Pumps now.
    void Pump();
    // For work that runs on another thread: returns once `done` holds, running the queued calls
    // as they come and pumping every pumpInterval meanwhile; `progress`, if given, is the value
    // shown at each pump. `done` is evaluated as WaitOnUiThreadUntil evaluates its condition:
    // whoever makes it true calls WakeUiThread.
    void WaitUntil(const std::function<bool()>& done, const std::function<int()>& progress = {});

    void SetText(const std::string& text);
    void SetMaximum(int maximum);
    // While false the Cancel button is disabled and Escape and the close box do nothing (for
    // a step that cannot be interrupted, such as flushing a file to disk).
    void SetCancellable(bool cancellable);
    void Cancel();
    bool Cancelled() const { return cancelled; }

    const std::string& Text() const { return text; }
    int Value() const { return value; }
    int Maximum() const { return maximum; }
    // The progress dialog; null until it is shown.
    QProgressDialog* Dialog() const;

    // Whether long work runs now (on the user-interface thread).
    static bool Running();

private:
    class ProgressDialog;
    void ShowDialog();
    void UpdateDialog();

    QWidget* owner;
    std::string text;
    int value = 0;
    int maximum;
    bool cancellable = true;
    bool cancelled = false;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastPump;
    std::unique_ptr<ProgressDialog> dialog;
    QPushButton* cancelButton = nullptr;
};
