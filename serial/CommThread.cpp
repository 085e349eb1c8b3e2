// SPDX-License-Identifier: MIT
#include "CommThread.h"

#include "ApplicationCore.h"
#include "Exceptions.h"
#include "UiThread.h"

#include <cstdio>

namespace {

// Without an application object nothing can be shown, so it counts as ending.
bool ApplicationTerminating() {
    return !ApplicationCore || ApplicationCore->Terminated();
}

} // namespace

TCommThread::TCommThread(TCommThreadHost& host, const std::string& portName, std::int32_t baudRate,
                         TCommThreadJournal* journal)
    : host(host), journal(journal) {
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
        constexpr const char* closeFailed = "Error closing comm port.";
        if (ApplicationCore)
            ApplicationCore->ShowMessage(closeFailed);
        else
            std::fprintf(stderr, "%s\n", closeFailed);
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
    // A wait that was followed by another idle pass ended for no byte (a wake for a pause that
    // was taken back, or a port that reports readiness it does not have): the next idle pause
    // is a plain sleep, so that such a port costs at most the old cadence, never a busy loop.
    bool waitedLast = false;
    while (CheckPaused()) {
        bool idle = false;
        try {
            idle = Pass();
        } catch (const ECommError&) {
            // The device went away under an open port.
            ParkAsFailed();
            continue;
        } catch (...) {
            // Anything else (memory exhausted, an error of the window's call handed back here)
            // must not end the thread with its port held and nobody listening: the port is let
            // go like one that failed, and the user is told, without this thread waiting for
            // the box. The group of that pass was not confirmed, so the timer sends it again.
            ReportError(std::current_exception());
            ParkAsFailed();
            continue;
        }
        if (idle && waitWhenIdle && !waitedLast) {
            portWait.Wait(port, pollInterval);
            waitedLast = true;
        } else {
            Sleep(pollInterval);
            waitedLast = false;
        }
    }
}

// Park, and let the window decide: it closes the port so that nobody is told data comes from a
// dead port, and listens again so that the timer is found when it is plugged back in.
void TCommThread::ParkAsFailed() {
    Suspend();
    Synchronize([this] {
        if (!ApplicationTerminating() && !Terminated())
            host.PortFailed(this);
    });
}

// Once per message: a cause that stays would meet this thread again after every restart.
void TCommThread::ReportError(const std::exception_ptr& error) {
    if (!reportedErrors.insert(ExceptionMessage(error)).second)
        return;
    PostToUiThread([error] {
        if (!ApplicationTerminating())
            ApplicationCore->ShowException(error);
    });
}

bool TCommThread::Pass() {
    const unsigned start = startCount.load();
    const std::uint32_t waiting = port.BytesAvailable();
    bool readAny = false;
    if (waiting > 0) {
        receiveBuffer.resize(waiting);
        receiveBuffer.resize(port.ReadBytes(receiveBuffer.data(), waiting));
        if (!receiveBuffer.empty()) {
            readAny = true;
            if (journal)
                journal->BytesRead(receiveBuffer);
            decoder.Append(receiveBuffer);
        }
    }
    decoder.Process(reportText);

    if (!announced && decoder.IsRecognised()) {
        Synchronize([this] { AnnounceDevice(); });
        if (start == startCount.load())
            announced = true;
    }
    bool shown = true;
    if (decoder.groupComplete)
        Synchronize([this, &shown] { ShowGroup(shown); });
    // The timer forgets a group once it hears 0xFA, so a group that could not be shown (the
    // program is closing) is not confirmed: the timer keeps it and sends it again next time.
    // Nor is a reply written after a stop and a new start: it belonged to the port this slot
    // had then.
    // Nothing is due while no group is open: the next thing to happen is a byte.
    const bool idle = !readAny && decoder.headerCount == 0 && !decoder.endRecordSeen;
    if (!decoder.endRecordSeen || !shown || start != startCount.load())
        return idle;
    if (decoder.checksumError) {
        port.WriteByte(replyBad);
        return false;
    }
    // Durable before confirmed: the group's block, and the bytes it came in, are on disk
    // before the timer is told it may forget them.
    if (journal) {
        if (decoder.groupComplete)
            journal->KeepGroup(reportText);
        journal->BeforeConfirm();
    }
    port.WriteByte(replyGood);
    return false;
}

void TCommThread::AnnounceDevice() {
    if (!ApplicationTerminating() && !Terminated())
        host.SelectPort(this);
}

void TCommThread::ShowGroup(bool& shown) {
    shown = false;
    if (ApplicationTerminating() || Terminated())
        return;
    host.ReceiveGroupText(reportText);
    shown = true;
}
