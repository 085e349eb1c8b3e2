// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TPrintRect;

// What the window's behaviour (TMainFormBehaviour) asks of whatever draws the window: the Qt
// window on Linux, a native one elsewhere, a fake in tests. Every call but PostToWindow is made
// on the user-interface thread. Texts are 8-bit, as everywhere in the program.

enum class TViewButtons { ok, okCancel, retryCancel };
enum class TViewIcon { question, warning };
// Cancel also stands for Escape and the box's close button.
enum class TViewAnswer { ok, cancel, retry };

struct TViewMessage {
    std::string text;
    std::string caption; // empty: the program's name
    TViewButtons buttons = TViewButtons::ok;
    TViewIcon icon = TViewIcon::question;
    TViewAnswer defaultAnswer = TViewAnswer::ok; // what Enter presses
    std::string detail;                          // shown below the text when not empty
};

// What the port settings dialog returned when the user pressed "Ok".
struct TPortSettings {
    std::string portName;
    std::int32_t baudRate = 0;
};

enum class TFileDialog { open, save };
enum class TWriteResult { written, cancelled, failed };

// Long work on the user-interface thread (opening, saving, printing a large text). Receiver
// threads wait for that thread before they answer the timer, so the work goes in pieces of a
// few milliseconds and calls Step between them: it runs the receivers' calls, and after a
// moment shows progress with a Cancel button. A receiver's call may append a group to the view
// meanwhile: work that walks the view finds its place again by line number after each Step.
class TViewWork {
public:
    virtual ~TViewWork() = default;
    // Between two pieces, with the progress so far; false once the work is cancelled.
    virtual bool Step(int value) = 0;
    virtual void SetMaximum(int maximum) = 0;
    virtual void SetText(const std::string& text) = 0;
};

// A print job on the printer the user chose, in the text view's font at its point size, black
// on white. Destroying it ends the job with the pages drawn so far.
class TViewPrintJob {
public:
    virtual ~TViewPrintJob() = default;
    // The printable area and the printer font's line height, in printer device units.
    virtual int PageWidth() const = 0;
    virtual int PageHeight() const = 0;
    virtual int LineHeight() const = 0;
    virtual void NewPage() = 0;
    // Draws line `line` of the text view into `rect`: one line, top-aligned, tabs expanded to
    // stops every TPrintLayout::tabStopChars average character widths, cut at the right edge.
    virtual void DrawLine(int line, const TPrintRect& rect) = 0;
};

class TMainFormView {
public:
    // Appends lines after the text view's last line as the view's own line list does, then puts
    // the caret after the last character and scrolls to the bottom and the left edge; the view
    // repaints once for all of it.
    virtual void AppendLines(const std::vector<std::string>& lines) = 0;
    // Empties the text view.
    virtual void ClearText() = 0;
    // Lines of the text view, not counting an empty line after a final line end.
    virtual int LineCount() const = 0;
    // The group counter's text on the tool bar.
    virtual void SetCounterText(const std::string& text) = 0;

    // A modal box owned by the window; returns the button that closed it.
    virtual TViewAnswer ShowMessage(const TViewMessage& message) = 0;
    // The port settings dialog, started on `portName` and `baudRate`; nullopt unless "Ok" closed
    // it. May raise (a rate that is not a number), and then nothing is to be applied.
    virtual std::optional<TPortSettings> AskPortSettings(const std::string& portName, std::int32_t baudRate) = 0;

    // The standard file dialog with the window's settings for it (filter, default extension,
    // the name chosen last); the name the user confirmed, or nullopt.
    virtual std::optional<std::string> ChooseFile(TFileDialog dialog) = 0;
    // Long work that says `text` and is done at `maximum`. The work handed back to the view's
    // other calls is always work that this view began.
    virtual std::unique_ptr<TViewWork> BeginLongWork(const std::string& text, int maximum) = 0;
    // Hands `take` each of the view's first `lines` lines in order (8-bit), with `work.Step` at
    // `progressBase` plus the lines taken after every few thousand. False when cancelled.
    virtual bool WalkLines(int lines, TViewWork& work, int progressBase,
                           const std::function<void(const std::string& line)>& take) = 0;
    // Whether the view's text ends with a line end (its last line is followed by one).
    virtual bool EndsWithLineEnd() const = 0;
    // Replaces the whole text with `text` (8-bit, lines ended by CR, LF or CR LF, no zero byte),
    // in pieces under `work` from `progressBase` on. The old text is the view's first
    // `oldLines` lines, followed by a line end if `oldEndsWithLineEnd` (as the view was when the
    // command began); the lines after them, and those appended meanwhile, are groups that
    // arrived and follow the new text. Cancelled, the old text comes back with them after it.
    // Nothing shown is lost.
    virtual void ReplaceText(std::string text, int oldLines, bool oldEndsWithLineEnd, TViewWork& work,
                             int progressBase) = 0;
    // Writes `bytes` to the file `name` so that a failure or a cancel leaves any old file as it
    // was: the new one replaces it only once it is wholly on disk.
    virtual TWriteResult WriteFileReplacing(const std::string& name, const std::string& bytes, TViewWork& work,
                                            int progressBase) = 0;

    // The print dialog, then a job begun on the chosen printer; null when the user cancelled.
    // Raises EPrinter when there is no printer or the chosen one cannot be used.
    virtual std::unique_ptr<TViewPrintJob> BeginPrint() = 0;

    // Runs `call` later on the user-interface thread, from the window's event loop, unless the
    // window is gone by then. Any thread; for what must not keep a receiver thread waiting.
    virtual void PostToWindow(std::function<void()> call) = 0;
    // Ends the application as soon as its message loop runs, and whether that was asked.
    virtual void Terminate() = 0;
    virtual bool Terminating() const = 0;

protected:
    ~TMainFormView() = default;
};
