// SPDX-License-Identifier: MIT
#include "CommThread.h"

#include "Application.h"
#include "Dialogs.h"

TCommThread::TCommThread(TCommThreadHost& host, const std::string& portName, std::int32_t baudRate) : host(host) {
    port.SetPortName(portName);
    port.SetBaudRate(baudRate);
}

TCommThread::~TCommThread() {
    // The body uses this object's members: end it before they go.
    EndThread();
}

void TCommThread::StartComm() {
    receiveBuffer.clear();
    announced = false;
    ++startCount;
    try {
        port.OpenCommPort();
    } catch (const ECommError&) {
        return; // the caller sees it through IsPortOpen
    }
    Resume();
}

void TCommThread::StopComm() {
    Suspend();
    announced = false;
    decoder.SetRecognised(false);
    try {
        port.CloseCommPort();
    } catch (const ECommError&) {
        MessageBox(nullptr, "Error closing comm port.", Application ? Application->Title : std::string(), mbOK, miNone,
                   mrOk);
    }
}

void TCommThread::ApplySettings(std::int32_t baudRate, const std::string& portName) {
    if (port.IsOpen())
        StopComm();
    port.SetBaudRate(baudRate);
    port.SetPortName(portName);
    if (!port.IsOpen())
        StartComm();
}

void TCommThread::Execute() {
    while (CheckPaused()) {
        try {
            Pass();
        } catch (const ECommError&) {
            // The device went away under an open port. Park, and let the window decide: it
            // closes the port so that nobody is told data comes from a dead port, and listens
            // again so that the timer is found when it is plugged back in.
            Suspend();
            Synchronize([this] {
                if (!Application->Terminated() && !Terminated())
                    host.PortFailed(this);
            });
            continue;
        }
        Sleep(pollInterval);
    }
}

void TCommThread::Pass() {
    const std::uint32_t waiting = port.BytesAvailable();
    if (waiting > 0) {
        receiveBuffer.resize(waiting);
        receiveBuffer.resize(port.ReadBytes(receiveBuffer.data(), waiting));
        if (!receiveBuffer.empty())
            decoder.Append(receiveBuffer);
    }
    decoder.Process(reportText);

    if (!announced && decoder.IsRecognised()) {
        const unsigned start = startCount.load();
        Synchronize([this] { AnnounceDevice(); });
        if (start == startCount.load())
            announced = true;
    }
    bool shown = true;
    if (decoder.groupComplete)
        Synchronize([this, &shown] { ShowGroup(shown); });
    // The timer forgets a group once it hears 0xFA, so a group that could not be shown (the
    // program is closing) is not confirmed: the timer keeps it and sends it again next time.
    if (decoder.endRecordSeen && shown)
        port.WriteByte(decoder.checksumError ? replyBad : replyGood);
}

void TCommThread::AnnounceDevice() {
    if (!Application->Terminated() && !Terminated())
        host.SelectPort(this);
}

void TCommThread::ShowGroup(bool& shown) {
    shown = false;
    if (Application->Terminated() || Terminated())
        return;
    host.ReceiveGroupText(reportText);
    shown = true;
}
