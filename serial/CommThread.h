// SPDX-License-Identifier: MIT
#pragma once

#include "CommPort.h"
#include "ReceivedData.h"
#include "Thread.h"

#include <atomic>
#include <chrono>
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

// The background worker of one serial port: polls it every 100 ms, feeds its decoder, hands
// complete groups to the window and writes the decoder's one-byte reply. Start, stop and
// settings are user-interface thread operations; they touch the port only while the body is
// paused.
class TCommThread : public TThread {
public:
    static constexpr auto pollInterval = std::chrono::milliseconds(100);
    static constexpr std::uint8_t replyGood = 0xFA;
    static constexpr std::uint8_t replyBad = 0xF0;

    TCommThread(TCommThreadHost& host, const std::string& portName, std::int32_t baudRate);
    ~TCommThread() override;

    // Opens the port and resumes the body; when the port cannot be opened the thread stays
    // paused and nothing is shown.
    void StartComm();
    // Pauses the body, forgets the recognition and closes the port ("Error closing comm port."
    // when closing fails).
    void StopComm();
    void ApplySettings(std::int32_t baudRate, const std::string& portName);

    bool IsPortOpen() const { return port.IsOpen(); }
    bool IsDeviceRecognised() const { return decoder.IsRecognised(); }
    const TCommPort& GetPort() const { return port; }

protected:
    void Execute() override;

private:
    void Pass();
    void AnnounceDevice();
    void ShowGroup(bool& shown);

    TCommThreadHost& host;
    // Counts starts, so that a pass that was paused inside its announcement and resumed by a
    // later start does not mark the new start as announced.
    std::atomic<unsigned> startCount{0};
    bool announced = false;
    std::vector<unsigned char> receiveBuffer;
    std::vector<unsigned char> reportText;
    TCommPort port;
    TReceivedData decoder;
};
