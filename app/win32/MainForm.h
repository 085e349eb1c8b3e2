// SPDX-License-Identifier: MIT
#pragma once

#include "MainFormCommands.h"
#include "MainFormView.h"
#include "Printing.h"
#include "TextView.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windows.h>
// commdlg.h names its ReplaceTextA function through a macro that would rename the view's
// ReplaceText.
#undef ReplaceText

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TWin32Application;

// The main window on Windows: menu bar, tool bar with the group counter, the read-only text
// view and the status bar with two panels, drawing what the behaviour asks for.
class TMainForm : public TMainFormView {
public:
    // Creates the window, hidden until Attach; raises Exception when Windows refuses it.
    explicit TMainForm(TWin32Application& application);
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // The behaviour that the commands reach. Its Start runs first (the first connect may ask,
    // before anything shows); then the window shows, unless that ended the program.
    void Attach(std::unique_ptr<TMainFormCommands> commands);
    HWND Handle() const { return window; }
    // Runs the message loop, with the idle-time updates after each burst, until Terminate.
    void Run();
    // The enabled states and the status panels, as the idle-time update sets them.
    void UpdateStates();
    std::string StatusText(int panel) const;
    std::string CounterText() const;
    std::string Text() const;
    // A folder (UTF-8, as the journal names it) among the places of the Open dialog, where the
    // dialog has places and the folder exists.
    void AddOpenPlace(const std::string& folder);
    // The print job of the print command on `printer`, the dialog's choice, in the text view's
    // font; `output`, when not empty, a file that takes the printer's output. Null when the user
    // cancelled; raises EPrinter as BeginPrint does.
    std::unique_ptr<TViewPrintJob> PrintOn(TPrinterDC printer, const std::string& output = {});

    void AppendLines(const std::vector<std::string>& lines) override;
    void ClearText() override;
    int LineCount() const override;
    void SetCounterText(const std::string& text) override;
    TViewAnswer ShowMessage(const TViewMessage& message) override;
    std::optional<TPortSettings> AskPortSettings(const std::string& portName, std::int32_t baudRate) override;
    std::optional<std::string> ChooseFile(TFileDialog dialog) override;
    std::unique_ptr<TViewWork> BeginLongWork(const std::string& text, int maximum) override;
    bool WalkLines(int lines, TViewWork& work, int progressBase,
                   const std::function<void(const std::string& line)>& take) override;
    bool EndsWithLineEnd() const override;
    void ReplaceText(std::string text, int oldLines, bool oldEndsWithLineEnd, TViewWork& work,
                     int progressBase) override;
    TWriteResult WriteFileReplacing(const std::string& name, const std::string& bytes, TViewWork& work,
                                    int progressBase) override;
    std::unique_ptr<TViewPrintJob> BeginPrint() override;
    void PostToWindow(std::function<void()> call) override;
    void Terminate() override;
    bool Terminating() const override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnSize(int width, int height);
    void OnCommand(int id);
    LRESULT OnNotify(NMHDR& header);
    void OnClose();
    void CreateToolBar();
    void OnDpiChanged(int newDpi, const RECT& suggested);
    void actSetFontExecute();
    // Gives the text view `font`, its size in pixels of the window's monitor.
    void SetMemoFont(const LOGFONTA& font);
    void SetStatusPanels();
    // A size of the window's design (pixels of a 96 dpi screen) on the window's monitor.
    int Scaled(int designPixels) const;
    void RunCommand(void (TMainFormCommands::*command)());
    std::string LineText(int line) const;

    TWin32Application& application;
    std::unique_ptr<TMainFormCommands> commands;
    HWND window = nullptr;
    HWND toolBar = nullptr;
    HWND counterLabel = nullptr;
    std::unique_ptr<TTextView> memo;
    HWND statusBar = nullptr;
    HACCEL accelerators = nullptr;
    HIMAGELIST toolImages = nullptr;
    HFONT memoFont = nullptr;
    HFONT counterFont = nullptr;
    // The resolution of the window's monitor.
    int dpi = 96;
    // The text view's font, as given to it, for the font dialog and for the printer.
    LOGFONTA memoLogFont{};
    // The colour of the font the font dialog gave, once it gave one other than the first: the
    // view shows it, and paper gets it, black until then whatever the screen's text colour.
    std::optional<COLORREF> fontColour;
    TPrintDialog PrintDialog1;
    std::vector<std::string> openPlaces;
    std::string lastOpenName, lastSaveName;
    // Set by every message but the idle update's own: the states are brought up to date once
    // the queue is empty.
    bool updatePending = true;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};
