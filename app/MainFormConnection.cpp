// SPDX-License-Identifier: MIT
// The main window's connection: the sixteen receiver threads, listening on every port, choosing
// the one the timer speaks on, the status line and the port settings command.
#include "MainForm.h"

#include "Actions.h"
#include "Application.h"
#include "CommSettingsForm.h"
#include "PortNames.h"

#include <QLabel>
#include <QStatusBar>

#include <algorithm>

void TMainForm::ListenOnNewPorts() {
    if (!listening || portChosen || Application->Terminated())
        return;
    RefreshSerialPorts();
    bool held = false;
    for (auto& thread : commThreads)
        if (!thread->IsPortOpen()) {
            thread->StartComm();
            held = held || thread->GetPort().OpenRefusedInUse();
        }
    // A program that holds a port may let it go without a trace the watch can see.
    if (held && portWatch)
        portWatch->RetryLater();
    UpdateAnyPortOpen();
}

void TMainForm::StopThreads() {
    // Ask every thread to end before waiting for any: they end in parallel, and a thread
    // blocked in a call to this thread is released by the waits, which keep running such calls
    // (they do nothing now, as the application is terminating). Paused threads end at once.
    for (auto& thread : commThreads)
        if (thread)
            thread->Terminate();
    for (auto& thread : commThreads)
        if (thread)
            thread->WaitFor();
    for (auto& thread : commThreads)
        thread.reset();
}

bool TMainForm::UpdateAnyPortOpen() {
    anyPortOpen = std::any_of(commThreads.begin(), commThreads.end(), [](const auto& t) { return t->IsPortOpen(); });
    return anyPortOpen;
}

void TMainForm::actConnectExecute() {
    for (;;) {
        RefreshSerialPorts();
        for (auto& thread : commThreads)
            if (!portChosen)
                thread->StartComm();
        if (UpdateAnyPortOpen()) {
            listening = true;
            if (portWatch && std::any_of(commThreads.begin(), commThreads.end(),
                                         [](const auto& t) { return t->GetPort().OpenRefusedInUse(); }))
                portWatch->RetryLater();
            return;
        }
        // Below the question, why each port that exists could not be opened (most often: the
        // user may not use serial ports yet).
        const int answer = MessageBox(this, "No COM port can be opened. Retry?", "Retry", mbRetryCancel, miQuestion,
                                      mrRetry, DescribeUnopenablePorts(SystemPortRoots(), portCount));
        if (answer == mrCancel) {
            Application->Terminate();
            return;
        }
    }
}

void TMainForm::actConnectUpdate(TAction& action) {
    action.setEnabled(!anyPortOpen);
}

void TMainForm::actDisconnectExecute() {
    for (auto& thread : commThreads)
        thread->StopComm();
    portChosen = false;
    listening = false;
    UpdateAnyPortOpen();
}

void TMainForm::actDisconnectUpdate(TAction& action) {
    action.setEnabled(anyPortOpen);
}

void TMainForm::SelectPort(TCommThread* thread) {
    if (portChosen)
        return;
    portChosen = true;
    for (auto& other : commThreads)
        if (other.get() != thread)
            other->StopComm();
}

void TMainForm::PortFailed(TCommThread* thread) {
    // The thread's port died under it (adapter pulled, hub glitch). Close it, so that the status
    // line stops claiming data comes from it, and go back to listening on every port, quietly:
    // the timer is found again once it is plugged back in, however often that happens, and
    // nothing waits for the user meanwhile. A group cut short is not lost: it was not
    // confirmed, so the timer sends it again.
    thread->StopComm();
    portChosen = false;
    ListenOnNewPorts();
    UpdateAnyPortOpen();
}

void TMainForm::actStatusBar1Update(TAction&) {
    std::string ports;
    // Which device each open slot has, for the user who has several adapters plugged in:
    // "COM3: /dev/ttyUSB0 (FTDI FT232R USB UART, serial A10K3XYZ)", one line per slot.
    std::string devices;
    bool recognised = false;
    for (int slot = 0; slot < portCount; ++slot) {
        const TCommThread& thread = *commThreads[static_cast<std::size_t>(slot)];
        if (thread.IsPortOpen()) {
            const std::string label = "COM" + std::to_string(slot + 1);
            ports += " " + label;
            const std::string description = thread.GetPort().GetDeviceDescription();
            devices += (devices.empty() ? "" : "\n") + label + ": " + thread.GetPort().GetDeviceName() +
                       (description.empty() ? "" : " (" + description + ")");
        }
        recognised = recognised || thread.IsDeviceRecognised();
    }
    if (const QString toolTip = QString::fromStdString(devices); StatusBar1->toolTip() != toolTip)
        StatusBar1->setToolTip(toolTip);
    const std::string panel0 = "Opened Com Port:  " + ports;
    const std::string panel1 = recognised ? "Receive data from " + ports + "," + " baud rate = " +
                                                std::to_string(commThreads[0]->GetPort().GetBaudRate()) + "bps"
                                          : std::string();
    const QString texts[2] = {QString::fromLatin1(panel0.c_str()), QString::fromLatin1(panel1.c_str())};
    for (std::size_t i = 0; i < statusPanels.size(); ++i)
        if (statusPanels[i]->text() != texts[i])
            statusPanels[i]->setText(texts[i]);
}

void TMainForm::actSettingExecute() {
    auto dialog = std::make_unique<TCommSettingsForm>();
    dialog->ShowPortName(commThreads[0]->GetPort().GetPortName());
    dialog->ShowBaudRate(commThreads[0]->GetPort().GetBaudRate());
    if (dialog->exec() != mrOk)
        return;
    const std::string portName = dialog->SelectedPortName();
    const std::int32_t baudRate = dialog->SelectedBaudRate();
    commThreads[0]->ApplySettings(baudRate, portName);
}

void TMainForm::actReadComExecute() {}
