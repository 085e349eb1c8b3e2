// SPDX-License-Identifier: MIT
#pragma once

#include "CommPort.h"
#include "PortWait.h"
#include "ReceivedData.h"
#include "Thread.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <set>
#include <string>
#include <vector>

class TCommThread;

// What a receiver thread asks of the main window. Every call runs on the user-interface thread
// while the receiver thread waits for it, so the arguments are read without a lock.
class TCommThreadHost {
public:
    // The timer's header unit was seen on this thread's port (once per start).
    virtual void SelectPort(TCommThread* thread) = 0;
    // A group is complete; `reportText` is its report block.
    virtual void ReceiveGroupText(const std::vector<unsigned char>& reportText) = 0;
    // The open port failed while it was polled (adapter unplugged). The thread is parked and
    // waits to be stopped or restarted.
    virtual void PortFailed(TCommThread* thread) = 0;

protected:
    ~TCommThreadHost() = default;
};

// Where a receiver thread keeps what it receives before the timer is told to forget it. Every
// call runs on the receiver thread itself, never on the user-interface thread, and must not
// raise: a failure to keep something is the journal's to report, and receiving goes on.
class TCommThreadJournal {
public:
    // Every byte read from the port, in order.
    virtual void BytesRead(const std::vector<unsigned char>& bytes) = 0;
    // A group that was shown; returns once its report block is on stable storage (or keeping it
    // failed).
    virtual void KeepGroup(const std::vector<unsigned char>& reportText) = 0;
    // A 0xFA is about to be written: returns once every byte read so far is on stable storage
    // (or keeping them failed).
    virtual void BeforeConfirm() = 0;

protected:
    ~TCommThreadJournal() = default;
};

// The background worker of one serial port: polls it every 100 ms, feeds its decoder, hands
// complete groups to the window and writes the decoder's one-byte reply. Start, stop and
// settings are user-interface thread operations; they touch the port only while the body is
// paused.
//
// While bytes flow the cadence is a pass, then 100 ms. A pass that read nothing, with no group
// open and no reply written, is followed by a wait on the port itself (TPortWait) where the
// system allows it: the thread then sleeps until a byte arrives, the port hangs up, or it is
// paused or terminated. Sixteen ports listening for a timer that is not there cost nothing.
class TCommThread : public TThread {
public:
    static constexpr auto pollInterval = std::chrono::milliseconds(100);
    static constexpr std::uint8_t replyGood = 0xFA;
    static constexpr std::uint8_t replyBad = 0xF0;

    // `journal` may be null: nothing is kept then.
    TCommThread(TCommThreadHost& host, const std::string& portName, std::int32_t baudRate,
                TCommThreadJournal* journal = nullptr);
    ~TCommThread() override;

    // Opens the port and resumes the body; when the port cannot be opened the thread stays
    // paused and nothing is shown.
    void StartComm();
    // Pauses the body, forgets the recognition and closes the port ("Error closing comm port."
    // when closing fails).
    void StopComm();
    void ApplySettings(std::int32_t baudRate, const std::string& portName);
    // Names the port that the next StartComm opens, without opening it. Only while the port is
    // closed (the body is paused then); ignored while it is open.
    void RenamePort(const std::string& portName) {
        if (!port.IsOpen())
            port.SetPortName(portName);
    }

    bool IsPortOpen() const { return port.IsOpen(); }
    bool IsDeviceRecognised() const { return decoder.IsRecognised(); }
    const TCommPort& GetPort() const { return port; }

    // Whether an idle pass is followed by a wait on the port (the default where the system can
    // wait on one) or by the plain 100 ms sleep. Only while the thread is paused.
    void SetWaitWhenIdle(bool on) { waitWhenIdle = on && TPortWait::waitsForEvents; }

protected:
    void Execute() override;
    void WakeBody() override { portWait.Wake(); }

private:
    // Returns whether the pass was idle (see above).
    bool Pass();
    void ParkAsFailed();
    void ReportError(const std::exception_ptr& error);
    void AnnounceDevice();
    void ShowGroup(bool& shown);

    TCommThreadHost& host;
    TCommThreadJournal* journal;
    // Counts starts, so that a pass that was paused inside a call to the window and resumed by
    // a later start neither marks the new start as announced nor writes its reply to the port
    // the slot has now.
    std::atomic<unsigned> startCount{0};
    bool announced = false;
    std::vector<unsigned char> receiveBuffer;
    std::vector<unsigned char> reportText;
    TCommPort port;
    TReceivedData decoder;
    // Messages of errors other than the port's that this thread has shown (body only).
    std::set<std::string> reportedErrors;
    TPortWait portWait;
    bool waitWhenIdle = TPortWait::waitsForEvents;
};
