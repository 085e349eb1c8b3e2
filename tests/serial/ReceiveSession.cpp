// SPDX-License-Identifier: MIT
// Receives a session on one port with the receiver thread, as the window does, and writes the
// shown groups as "Save as" writes them (CR LF line ends). Built by the Linux and the Windows
// builds alike, so that receive-session-test can hold both against the same simulated timer.
//
//   receive_session PORT GROUPS OUTPUT [SECONDS]
//
// Exit status: 0 when GROUPS groups were shown; 1 when the time (default 120 s) ran out first;
// 2 for bad arguments; 3 when the port could not be opened or failed.
#include "ApplicationCore.h"
#include "CommThread.h"
#include "Exceptions.h"
#include "UiThread.h"
#include "UiThreadHost.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The user-interface thread of a program without windows: its main thread waits in
// WaitOnUiThreadUntil, which runs the queued calls as they come, so nothing needs waking.
class HeadlessApplication final : public TApplicationCore, public TUiThreadHost {
public:
    HeadlessApplication() {
        AttachUiThreadHost(*this);
        ApplicationCore = this;
    }
    ~HeadlessApplication() {
        DetachUiThreadHost();
        ApplicationCore = nullptr;
    }
    bool Terminated() const override { return terminated.load(); }
    void ShowException(const std::exception_ptr& error) override {
        std::fprintf(stderr, "receive_session: %s\n", ExceptionMessage(error).c_str());
    }
    void ShowMessage(const std::string& text) override { std::fprintf(stderr, "receive_session: %s\n", text.c_str()); }
    void WakeUp() override {}
    void CallRan() override {}

    std::atomic<bool> terminated{false};
};

class Window final : public TCommThreadHost {
public:
    void SelectPort(TCommThread*) override {}
    void ReceiveGroupText(const std::vector<unsigned char>& reportText) override {
        for (unsigned char c : reportText) {
            text += static_cast<char>(c);
            if (c == '\r')
                text += '\n';
        }
        groups.fetch_add(1);
        WakeUiThread();
    }
    void PortFailed(TCommThread*) override {
        failed.store(true);
        WakeUiThread();
    }

    std::string text;
    std::atomic<long> groups{0};
    std::atomic<bool> failed{false};
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: receive_session PORT GROUPS OUTPUT [SECONDS]\n");
        return 2;
    }
    const std::string port = argv[1];
    const long wanted = std::strtol(argv[2], nullptr, 10);
    const long seconds = argc == 5 ? std::strtol(argv[4], nullptr, 10) : 120;
    if (wanted <= 0 || seconds <= 0) {
        std::fprintf(stderr, "receive_session: GROUPS and SECONDS must be positive numbers\n");
        return 2;
    }

    HeadlessApplication application;
    Window window;
    int status = 0;
    {
        TCommThread thread(window, port, 9600);
        thread.StartComm();
        if (!thread.IsPortOpen()) {
            std::fprintf(stderr, "receive_session: cannot open %s\n", port.c_str());
            return 3;
        }
        const bool done = WaitOnUiThreadUntil([&] { return window.groups.load() >= wanted || window.failed.load(); },
                                              std::chrono::steady_clock::now() + std::chrono::seconds(seconds));
        // The last reply byte is written after the group was shown: give the pass its end.
        thread.Terminate();
        thread.WaitFor();
        application.terminated = true;
        if (window.failed.load()) {
            std::fprintf(stderr, "receive_session: %s failed\n", port.c_str());
            status = 3;
        } else if (!done) {
            std::fprintf(stderr, "receive_session: %ld of %ld groups in %ld s\n", window.groups.load(), wanted,
                         seconds);
            status = 1;
        }
    }
    std::ofstream out(argv[3], std::ios::binary);
    out << window.text;
    if (!out.flush()) {
        std::fprintf(stderr, "receive_session: cannot write %s\n", argv[3]);
        return 2;
    }
    return status;
}
