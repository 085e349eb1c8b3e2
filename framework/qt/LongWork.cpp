// SPDX-License-Identifier: MIT
#include "LongWork.h"

#include "Application.h"
#include "Text.h"
#include "UiThread.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QProgressDialog>
#include <QPushButton>

#include <utility>

namespace {

TLongWork::Timing timing;
TLongWork::Hook hook;
int running = 0;

} // namespace

// QProgressDialog hides itself on a cancel; here the work decides, at its next step, and the
// dialog goes with it, so that a step that cannot be interrupted can keep it up.
class TLongWork::ProgressDialog : public QProgressDialog {
public:
    using QProgressDialog::QProgressDialog;
    bool cancellable = true;

    // Escape (when its shortcut does not reach the dialog) and the close box.
    void reject() override {
        if (cancellable)
            emit canceled();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        reject();
    }
};

void TLongWork::SetTiming(const Timing& newTiming) {
    timing = newTiming;
}

TLongWork::Timing TLongWork::CurrentTiming() {
    return timing;
}

void TLongWork::SetHook(Hook newHook) {
    hook = std::move(newHook);
}

bool TLongWork::Running() {
    return running > 0;
}

TLongWork::TLongWork(QWidget* owner, const std::string& text, int maximum)
    : owner(owner), text(text), maximum(maximum), started(std::chrono::steady_clock::now()), lastPump(started) {
    ++running;
}

TLongWork::~TLongWork() {
    dialog.reset();
    --running;
}

QProgressDialog* TLongWork::Dialog() const {
    return dialog.get();
}

bool TLongWork::Step(int newValue) {
    value = newValue;
    if (std::chrono::steady_clock::now() - lastPump >= timing.pumpInterval)
        Pump();
    return !cancelled;
}

void TLongWork::Pump() {
    ProcessPendingUiCalls();
    if (!dialog && std::chrono::steady_clock::now() - started >= timing.showAfter)
        ShowDialog();
    if (dialog) {
        UpdateDialog();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    if (hook)
        hook(*this);
    if (Application && Application->Terminated())
        Cancel();
    lastPump = std::chrono::steady_clock::now();
}

void TLongWork::WaitUntil(const std::function<bool()>& done, const std::function<int()>& progress) {
    for (;;) {
        if (WaitOnUiThreadUntil(done, lastPump + timing.pumpInterval))
            return;
        if (progress)
            value = progress();
        Pump();
    }
}

void TLongWork::SetText(const std::string& newText) {
    text = newText;
}

void TLongWork::SetMaximum(int newMaximum) {
    maximum = newMaximum;
}

void TLongWork::SetCancellable(bool newCancellable) {
    cancellable = newCancellable;
    if (dialog) {
        dialog->cancellable = cancellable;
        cancelButton->setEnabled(cancellable);
    }
}

void TLongWork::Cancel() {
    if (cancellable)
        cancelled = true;
}

void TLongWork::ShowDialog() {
    dialog = std::make_unique<ProgressDialog>(owner);
    dialog->setWindowTitle(Application ? DisplayText(Application->Title) : QString());
    dialog->setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->setAutoReset(false);
    dialog->setAutoClose(false);
    // Shown by this class once the work has lasted showAfter, not by the dialog's own guess.
    dialog->setMinimumDuration(static_cast<int>(timing.showAfter.count()));
    // The dialog's own button, which Escape presses too. (Giving it a button of our own
    // would leave two Escape shortcuts behind, and neither would work.)
    dialog->setCancelButtonText(QStringLiteral("Cancel"));
    cancelButton = dialog->findChild<QPushButton*>();
    QObject::disconnect(dialog.get(), SIGNAL(canceled()), dialog.get(), SLOT(cancel()));
    QObject::connect(dialog.get(), &QProgressDialog::canceled, dialog.get(), [this] { Cancel(); });
    SetCancellable(cancellable);
    UpdateDialog();
    dialog->show();
}

void TLongWork::UpdateDialog() {
    const QString label = DisplayText(text);
    if (dialog->labelText() != label)
        dialog->setLabelText(label);
    if (dialog->maximum() != maximum)
        dialog->setMaximum(maximum);
    if (dialog->value() != value)
        dialog->setValue(value);
}
