// SPDX-License-Identifier: MIT
#pragma once

#include "CommThread.h"
#include "Dialogs.h"
#include "PortWatch.h"
#include "ReceiveJournal.h"
#include "TextRules.h"

#include <QColor>
#include <QMainWindow>
#include <QStringList>

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

// The program's window: a read-only text view that collects the report of every group the
// timer sends, a tool bar with the document commands and a group counter, a status bar with
// the connection state. It owns the sixteen receiver threads, one per port COM1..COM16, and
// chooses the port on which the timer speaks first.
class TMainForm : public QMainWindow, private TCommThreadHost {
public:
    static constexpr int portCount = 16;
    static constexpr std::int32_t defaultBaudRate = 9600;

    TMainForm();
    ~TMainForm() override;

    // Called by a receiver thread, on the user-interface thread, with a complete group's block.
    void ReceiveGroupText(const std::vector<unsigned char>& groupText) override;
    // Called by the first receiver thread whose decoder recognises the timer.
    void SelectPort(TCommThread* thread) override;

    // Commands (execute and update handlers of the actions).
    void actConnectExecute();
    void actConnectUpdate(TAction& action);
    void actDisconnectExecute();
    void actDisconnectUpdate(TAction& action);
    void actSettingExecute();
    void actReadComExecute();
    void actFileOpenExecute();
    void actFileSaveExecute();
    void actFileSaveAsExecute();
    void actStatusBar1Update(TAction& action);
    void actPrintExecute();
    void actSetFontExecute();
    void actClearExecute();
    void actClearUpdate(TAction& action);
    void Exit1Click();

    // Shows the window in front of the others (a second start of the program asks for it).
    void BringToFront();

    // For tests and tools that look at the window's state.
    int GroupCount() const { return groupCount; }
    bool AnyPortOpen() const { return anyPortOpen; }
    bool PortChosen() const { return portChosen; }
    // The run's journal of received groups and raw captures.
    TJournal& Journal() { return receiveJournal->Journal(); }
    TCommThread& CommThread(int slot) { return *commThreads.at(static_cast<std::size_t>(slot)); }
    TActionList& Actions() { return *ActionList1; }

    // The largest text the view takes from a file ("Text exceeds memo capacity" above it).
    static constexpr std::int64_t memoCapacityBytes = ::memoCapacityBytes;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void PortFailed(TCommThread* thread) override;
    void DisplayGroupText();
    void CreateComponents();
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    bool UpdateAnyPortOpen();
    void StopThreads();
    void ListenOnNewPorts();
    void ShowJournalFailure(const TJournalError& error);

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

    std::int32_t groupCount = 0;
    std::vector<unsigned char> textBuffer;
    // Made before the threads that write it, and outlives them.
    std::unique_ptr<TReceiveJournal> receiveJournal;
    std::array<std::unique_ptr<TCommThread>, portCount> commThreads;
    QStringList groupLines;
    bool anyPortOpen = false;
    bool portChosen = false;
    // Set by a connect that opened a port, cleared by a disconnect: while it is set, ports that
    // are not open are tried again when the system's ports change, also after the timer's port
    // went away.
    bool listening = false;
    std::unique_ptr<TPortWatch> portWatch;
};

extern TMainForm* MainForm;
