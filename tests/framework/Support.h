// SPDX-License-Identifier: MIT
#pragma once

#include "Application.h"
#include "Dialogs.h"
#include "UiThread.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace support {

using namespace std::chrono_literals;

// Upper bound for anything that should happen "at once"; generous for sanitizer builds on a
// shared machine.
constexpr auto prompt = 1000ms;
constexpr int patienceMs = 10000;

// Waits for `ready` while the user-interface thread's events (and so its queued calls) run.
inline bool WaitUntil(const std::function<bool()>& ready, int timeoutMs = patienceMs) {
    return QTest::qWaitFor(ready, timeoutMs);
}

// Waits for `ready` without running any event or queued call.
inline bool SpinUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

inline std::chrono::milliseconds TimeOf(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// Acts on each showing of a modal window: the n-th showing gets the n-th step, run from the
// window's own event loop. A dialog that is shown again (after a refused choice) is a new
// showing.
class ModalDriver : public QObject {
public:
    explicit ModalDriver(std::vector<std::function<void(QWidget*)>> steps) : steps(std::move(steps)) {
        qApp->installEventFilter(this);
    }
    ~ModalDriver() override { qApp->removeEventFilter(this); }
    std::size_t Done() const { return done; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && window && window->isWindow() && window->isModal() && next < steps.size()) {
            const std::size_t step = next++;
            QTimer::singleShot(0, this, [this, step, target = QPointer<QWidget>(window)] {
                if (!target)
                    return;
                ++done;
                steps[step](target);
            });
        }
        return false;
    }

private:
    std::vector<std::function<void(QWidget*)>> steps;
    std::size_t next = 0;
    std::size_t done = 0;
};

// Every test gets a fresh TApplication (so a fresh terminating flag) and no dialog hooks.
class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "framework_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<TApplication>(argc, argv);
    }
    void TearDown() override {
        SetMessageBoxHook({});
        SetFileDialogHook({});
        SetFontDialogHook({});
        SetPrintDialogHook({});
        app.reset();
    }

    // Captures every message box instead of showing it, answering `answer`.
    std::vector<MessageBoxRequest>& CaptureMessageBoxes(int answer = mrOk) {
        SetMessageBoxHook([this, answer](const MessageBoxRequest& request) {
            boxes.push_back(request);
            return answer;
        });
        return boxes;
    }

    std::unique_ptr<TApplication> app;
    std::vector<MessageBoxRequest> boxes;
};

} // namespace support
