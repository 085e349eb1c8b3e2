// SPDX-License-Identifier: MIT
#include "Application.h"

#include "Dialogs.h"
#include "UiThread.h"
#include "UiThreadInternal.h"

#include <QApplication>
#include <QWidget>
#include <QtGlobal>

#include <cstdio>
#include <stdexcept>

TApplication* Application = nullptr;

namespace {

QEvent::Type QuitEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Receives the events that other threads post to the user-interface thread.
class Dispatcher : public QObject {
public:
    bool event(QEvent* e) override {
        ReceivedUiEvent(this);
        if (e->type() == UiCallEventType()) {
            ProcessPendingUiCalls();
            return true;
        }
        if (e->type() == QuitEventType()) {
            if (Application)
                Application->EndLoop();
            return true;
        }
        return QObject::event(e);
    }
};

} // namespace

TApplication::TApplication(int& argc, char** argv) {
    if (Application)
        throw std::logic_error("A TApplication exists already");
    if (!QCoreApplication::instance())
        ownApplication = std::make_unique<QApplication>(argc, argv);
    Title = QCoreApplication::applicationName().toStdString();
    dispatcher = std::make_unique<Dispatcher>();
    AttachUiThread(dispatcher.get());
    Application = this;
    ApplicationCore = this;
}

TApplication::~TApplication() {
    DetachUiThread();
    ApplicationCore = nullptr;
    Application = nullptr;
    dispatcher.reset();
    ownApplication.reset();
}

void TApplication::Terminate() {
    terminated.store(true);
    if (IsUiThread())
        EndLoop();
    else
        PostUiEvent(dispatcher.get(), QuitEventType());
}

// Before the main loop runs, Run's own check of the flag is what ends it. QCoreApplication::exit
// must not be called then: it would leave Qt's quit flag set, so that every modal dialog shown
// before the main loop (an error box, say) would close the moment it opened.
void TApplication::EndLoop() {
    if (running)
        QCoreApplication::exit(0);
}

void TApplication::Run() {
    if (Terminated())
        return;
    running = true;
    QApplication::exec();
    running = false;
}

void TApplication::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::ShowException(const std::exception_ptr& error) {
    try {
        if (!IsUiThread()) {
            RunOnUiThread([this, error] { ShowException(error); });
            return;
        }
        QWidget* owner = QApplication::activeModalWidget();
        if (!owner)
            owner = QApplication::activeWindow();
        if (!owner)
            owner = MainWindow;
        MessageBox(owner, ExceptionMessage(error), Title, mbOK, miError, mrOk);
    } catch (...) {
        // The error box itself failed (no user-interface thread any more): the message still
        // goes somewhere a user or developer can find it.
        qWarning("%s", ExceptionMessage(error).c_str());
    }
}

void TApplication::HandleException() {
    if (const std::exception_ptr error = std::current_exception())
        ShowException(error);
}

void TApplication::ShowMessage(const std::string& text) {
    try {
        MessageBox(nullptr, text, Title, mbOK, miNone, mrOk);
    } catch (...) {
        qWarning("%s", text.c_str());
    }
}

int RunApplication(int& argc, char** argv, const std::function<std::unique_ptr<QWidget>()>& createMainWindow) {
    std::unique_ptr<TApplication> ownApplication;
    TApplication* application = Application;
    try {
        if (!application) {
            ownApplication = std::make_unique<TApplication>(argc, argv);
            application = ownApplication.get();
        }
    } catch (...) {
        std::fprintf(stderr, "%s\n", ExceptionMessage(std::current_exception()).c_str());
        return 0;
    }

    std::unique_ptr<QWidget> window;
    try {
        window = createMainWindow();
        application->MainWindow = window.get();
        if (window && !application->Terminated()) {
            window->show();
            application->Run();
        }
    } catch (...) {
        application->HandleException();
    }
    application->MainWindow = nullptr;
    window.reset();
    return 0;
}
