// SPDX-License-Identifier: MIT
#pragma once

#include "Dialogs.h"
#include "MainFormBehaviour.h"
#include "TextRules.h"

#include <QColor>
#include <QMainWindow>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class QLabel;
class QMenu;
class QPlainTextEdit;
class QStatusBar;
class QToolBar;
class TAction;
class TActionList;

// The program's window drawn with Qt: a read-only text view that collects the report of every
// group the timer sends, a tool bar with the document commands and a group counter, a status bar
// with the connection state. What it does beyond drawing is TMainFormBehaviour's, which owns the
// sixteen receiver threads; the window forwards its commands and updates there.
class TMainForm : public QMainWindow, private TMainFormView {
public:
    static constexpr int portCount = TMainFormBehaviour::portCount;
    static constexpr std::int32_t defaultBaudRate = TMainFormBehaviour::defaultBaudRate;

    TMainForm();
    ~TMainForm() override;

    // Called by a receiver thread, on the user-interface thread, with a complete group's block.
    void ReceiveGroupText(const std::vector<unsigned char>& groupText) { behaviour->ReceiveGroupText(groupText); }
    // Called by the first receiver thread whose decoder recognises the timer.
    void SelectPort(TCommThread* thread) { behaviour->SelectPort(thread); }

    // Commands (execute and update handlers of the actions).
    void actConnectExecute() { behaviour->actConnectExecute(); }
    void actConnectUpdate(TAction& action);
    void actDisconnectExecute() { behaviour->actDisconnectExecute(); }
    void actDisconnectUpdate(TAction& action);
    void actSettingExecute() { behaviour->actSettingExecute(); }
    void actReadComExecute();
    void actFileOpenExecute() { behaviour->actFileOpenExecute(); }
    void actFileSaveExecute();
    void actFileSaveAsExecute() { behaviour->actFileSaveAsExecute(); }
    void actStatusBar1Update(TAction& action);
    void actPrintExecute() { behaviour->actPrintExecute(); }
    void actSetFontExecute();
    void actClearExecute() { behaviour->actClearExecute(); }
    void actClearUpdate(TAction& action);
    void Exit1Click();

    // Shows the window in front of the others (a second start of the program asks for it).
    void BringToFront();

    // For tests and tools that look at the window's state.
    int GroupCount() const { return behaviour->GroupCount(); }
    bool AnyPortOpen() const { return behaviour->AnyPortOpen(); }
    bool PortChosen() const { return behaviour->PortChosen(); }
    // The run's journal of received groups and raw captures.
    TJournal& Journal() { return behaviour->Journal(); }
    TCommThread& CommThread(int slot) { return behaviour->CommThread(slot); }
    TActionList& Actions() { return *ActionList1; }

    // The largest text the view takes from a file ("Text exceeds memo capacity" above it).
    static constexpr std::int64_t memoCapacityBytes = ::memoCapacityBytes;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The view the behaviour draws on.
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

    void CreateComponents();
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();

    // Components.
    TActionList* ActionList1 = nullptr;
    TAction* actConnect = nullptr;
    TAction* actDisconnect = nullptr;
    TAction* actSetting = nullptr;
    TAction* actReadCom = nullptr;
    TAction* actFileOpen = nullptr;
    TAction* actFileSave = nullptr;
    TAction* actFileSaveAs = nullptr;
    TAction* actStatusBar1 = nullptr;
    TAction* actPrint = nullptr;
    TAction* actSetFont = nullptr;
    TAction* actClear = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    std::array<QLabel*, 2> statusPanels{};
    TOpenDialog OpenDialog1;
    TSaveDialog SaveDialog1;
    TPrintDialog PrintDialog1;
    TFontDialog FontDialog1;
    // The colour of the chosen font, if the font command ever gets one (Qt's font dialog offers
    // none): printing uses it, and black while it is unset, whatever the screen's text colour.
    QColor fontColour;

    // Made once the components are, so that its first connect can show the retry box.
    std::unique_ptr<TMainFormBehaviour> behaviour;
};

extern TMainForm* MainForm;
