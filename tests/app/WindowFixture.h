// SPDX-License-Identifier: MIT
// A main window over pseudo-terminal ports: the test plays the timer on the ports' other side
// and answers every dialog through the framework's hooks.
#pragma once

#include "Actions.h"
#include "Application.h"
#include "Dialogs.h"
#include "LongWork.h"
#include "MainForm.h"
#include "MemoText.h"
#include "PseudoTerminal.h"
#include "QtTestSupport.h"
#include "UiThread.h"
#include "WorkedExample.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace window {

using Bytes = std::vector<unsigned char>;
using namespace std::chrono_literals;

constexpr int patienceMs = 10000;

inline Bytes header() {
    return {0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA};
}

// Acts on the next modal dialog once it is shown, from inside its own event loop.
inline void WhenModalShown(std::function<void(QWidget&)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(*dialog);
        }
    });
    timer->start(10);
}

class WindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        CloseWindow();
        SetMessageBoxHook({});
        SetFileDialogHook({});
        SetFontDialogHook({});
        SetPrintDialogHook({});
        TLongWork::SetHook({});
        TLongWork::SetTiming({});
        ports.clear();
    }

    // Makes the links COMn for the given numbers, each to a fresh pseudo-terminal.
    void Plug(std::initializer_list<int> numbers) {
        for (int n : numbers)
            ports[n] = std::make_unique<PseudoTerminal>(dir.path, n);
    }
    PseudoTerminal& Port(int n) { return *ports.at(n); }

    // Starts the program's window; message boxes are answered from `answers` (mrOk once they
    // run out) and recorded in `boxes`.
    void OpenWindow() {
        application = MakeTestApplication();
        SetMessageBoxHook([this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            if (onBox)
                onBox(request);
            if (answers.empty())
                return mrOk;
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        });
        form = std::make_unique<TMainForm>();
        MainForm = form.get();
        application->MainWindow = form.get();
    }

    void CloseWindow() {
        if (!form)
            return;
        application->Terminate();
        form.reset();
        application.reset();
    }

    bool WaitUntil(const std::function<bool()>& ready, int timeoutMs = patienceMs) {
        return QTest::qWaitFor(ready, timeoutMs);
    }

    QPlainTextEdit& Memo() { return *form->findChild<QPlainTextEdit*>(QStringLiteral("Memo1")); }
    std::string Label() { return form->findChild<QLabel*>(QStringLiteral("Label1"))->text().toStdString(); }
    std::string Panel(int i) {
        form->Actions().UpdateAll();
        return form->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->text().toStdString();
    }
    // An action, with its enabled state brought up to date as the idle updates would.
    TAction& Action(const char* name) {
        form->Actions().UpdateAll();
        return *form->findChild<TAction*>(QString::fromLatin1(name));
    }
    // Collects what the port's other side received while the window runs, until `count`
    // bytes are there or the time is up.
    Bytes Collect(int port, std::size_t count, int timeoutMs = patienceMs) {
        return CollectFrom(Port(port), count, timeoutMs);
    }
    // The view's text with '\n' between lines, byte for byte (as it would be saved).
    std::string ViewText() {
        const QByteArray bytes = MemoTextBytes(Memo());
        std::string text;
        for (qsizetype i = 0; i < bytes.size(); ++i)
            if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
                text += bytes[i];
        return text;
    }
    // The view's lines, not counting an empty line after a final line end.
    std::vector<std::string> MemoLines() {
        std::vector<std::string> lines;
        for (const QString& line : QString::fromLatin1(ViewText()).split(QLatin1Char('\n')))
            lines.push_back(line.toLatin1().toStdString());
        if (!lines.empty() && lines.back().empty())
            lines.pop_back();
        return lines;
    }

    TestPortDir dir;
    std::map<int, std::unique_ptr<PseudoTerminal>> ports;
    std::unique_ptr<TApplication> application;
    std::unique_ptr<TMainForm> form;
    std::vector<MessageBoxRequest> boxes;
    std::deque<int> answers;
    std::function<void(const MessageBoxRequest&)> onBox;
};

} // namespace window
