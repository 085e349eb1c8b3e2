// SPDX-License-Identifier: MIT
#pragma once

#include "CommThread.h"
#include "MainFormView.h"
#include "PortWatch.h"
#include "ReceiveJournal.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The two panels of the status line and the tool tip that names the device behind each open
// slot.
struct TStatusTexts {
    std::array<std::string, 2> panels;
    std::string toolTip;
};

// Everything the main window does that is not drawing: the sixteen receiver threads, one per
// port COM1..COM16, listening on every port and keeping the one the timer speaks on first,
// showing each received group and counting it, the journal's hand-over, the status texts, the
// enabled states of the commands and the document rules of open, save as, print and clear. It knows no toolkit; it
// reaches the window through a TMainFormView. User-interface thread only; the receiver threads call in as its
// TCommThreadHost on that thread too.
class TMainFormBehaviour : public TCommThreadHost {
public:
    static constexpr int portCount = 16;
    static constexpr std::int32_t defaultBaudRate = 9600;
    // A received block larger than this is cut to its last `keptBlockBytes` before it is shown.
    static constexpr std::size_t displayedBlockLimit = 0x50000;
    static constexpr std::size_t keptBlockBytes = 0x50000 - 0x400;

    // Creates the sixteen threads paused and the run's journal in `journalFolder`; opens nothing
    // (Start does).
    TMainFormBehaviour(TMainFormView& view, std::string journalFolder);
    // Stops every thread and waits for it before anything of the window goes.
    ~TMainFormBehaviour();
    TMainFormBehaviour(const TMainFormBehaviour&) = delete;
    TMainFormBehaviour& operator=(const TMainFormBehaviour&) = delete;

    // The window's own connect once it is built: may show the retry box, and Cancel there ends
    // the application.
    void Start() { actConnectExecute(); }

    // A complete group's report block, from a receiver thread's call on this thread.
    void ReceiveGroupText(const std::vector<unsigned char>& groupText) override;
    // The first receiver thread whose decoder recognised the timer.
    void SelectPort(TCommThread* thread) override;
    // A receiver thread whose port failed while it was polled (adapter pulled).
    void PortFailed(TCommThread* thread) override;

    // Commands.
    void actConnectExecute();
    void actDisconnectExecute();
    void actSettingExecute();
    void actClearExecute();
    void actFileOpenExecute();
    void actFileSaveAsExecute();
    void actPrintExecute();
    // Enabled states, and the status line, as the idle updates ask for them.
    bool actConnectUpdate() const { return !anyPortOpen; }
    bool actDisconnectUpdate() const { return anyPortOpen; }
    bool actClearUpdate() const { return view.LineCount() != 0; }
    TStatusTexts actStatusBar1Update() const;

    // While listening, tries the ports that are not open again (an adapter plugged in after the
    // start, or plugged back in); the system's port events ask for it through the view's
    // PostToWindow. Returns whether the set of open ports changed.
    bool Rescan();

    int GroupCount() const { return groupCount; }
    bool AnyPortOpen() const { return anyPortOpen; }
    bool PortChosen() const { return portChosen; }
    TJournal& Journal() { return receiveJournal->Journal(); }
    TCommThread& CommThread(int slot) { return *commThreads.at(static_cast<std::size_t>(slot)); }

private:
    void DisplayGroupText();
    bool UpdateAnyPortOpen();
    int OpenPortCount() const;
    void StopThreads();
    void ListenOnNewPorts();
    // Gives every closed slot the system's current name for it (see PortSlotList.h).
    void NameClosedSlots();
    static std::string SlotName(const std::vector<std::string>& names, int slot);
    void ShowJournalFailure(const TJournalError& error);

    TMainFormView& view;
    std::int32_t groupCount = 0;
    std::vector<unsigned char> textBuffer;
    // Made before the threads that write it, and outlives them.
    std::unique_ptr<TReceiveJournal> receiveJournal;
    std::array<std::unique_ptr<TCommThread>, portCount> commThreads;
    std::vector<std::string> groupLines;
    bool anyPortOpen = false;
    bool portChosen = false;
    // Set by a connect that opened a port, cleared by a disconnect: while it is set, ports that
    // are not open are tried again when the system's ports change, also after the timer's port
    // went away.
    bool listening = false;
    std::unique_ptr<TPortWatch> portWatch;
    std::vector<std::string> slotNames; // as of the latest connect or rescan
};
