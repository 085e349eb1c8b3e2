// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

    // Runs `call` later on the user-interface thread, from the window's event loop, unless the
    // window is gone by then. Any thread; for what must not keep a receiver thread waiting.
    virtual void PostToWindow(std::function<void()> call) = 0;
    // Ends the application as soon as its message loop runs, and whether that was asked.
    virtual void Terminate() = 0;
    virtual bool Terminating() const = 0;

protected:
    ~TMainFormView() = default;
};
